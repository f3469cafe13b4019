// Hub-position numbers and the hub check boxes.
#include "renumber/plan.h"

#include <array>

#include "program_fixture.h"

namespace {

constexpr std::array<int, 8> kUpBoxes = {IDC_UP_PORT1, IDC_UP_PORT2, IDC_UP_PORT3, IDC_UP_PORT4,
                                         IDC_UP_PORT5, IDC_UP_PORT6, IDC_UP_PORT7, IDC_UP_PORT8};
constexpr std::array<int, 8> kDownBoxes = {IDC_DOWN_PORT1, IDC_DOWN_PORT2, IDC_DOWN_PORT3, IDC_DOWN_PORT4,
                                           IDC_DOWN_PORT5, IDC_DOWN_PORT6, IDC_DOWN_PORT7, IDC_DOWN_PORT8};

class PlanTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        LoadCards({});
        OpenMain();
    }
    // Hub plan with the given groups; ports are 1-based box numbers.
    void UseHubPlan(bool upOn, std::initializer_list<int> upPorts, bool downOn, std::initializer_list<int> downPorts) {
        ClickButton(dialog, IDC_PLAN_HUB);
        SetButtonChecked(dialog, IDC_HUB_UP, upOn);
        SetButtonChecked(dialog, IDC_HUB_DOWN, downOn);
        for (int box : kUpBoxes) SetButtonChecked(dialog, box, false);
        for (int box : kDownBoxes) SetButtonChecked(dialog, box, false);
        for (int p : upPorts) SetButtonChecked(dialog, kUpBoxes[p - 1], true);
        for (int p : downPorts) SetButtonChecked(dialog, kDownBoxes[p - 1], true);
    }
    static std::uint16_t Number(std::initializer_list<std::uint16_t> hubPorts, std::uint16_t port, std::uint16_t count) {
        std::uint16_t path[10] = {};
        unsigned k = 3;
        for (std::uint16_t p : hubPorts) path[k++] = p;
        return ComputeHubNumber(path, port, count);
    }
};

TEST_F(PlanTest, WorkedExample) {
    SelectStart(10);
    UseHubPlan(true, {1, 2, 3, 4}, true, {1, 2, 3, 4});
    EXPECT_EQ(Number({2, 3}, 0, 2), 22);
    EXPECT_EQ(Number({2, 3}, 1, 2), 23);
    EXPECT_EQ(numberingPlan.upMask, 0x800F);
    EXPECT_EQ(numberingPlan.downMask, 0x800F);
    EXPECT_EQ(numberingPlan.startIndex, 9);
}

TEST_F(PlanTest, RootHubPortCards) {
    SelectStart(10);
    UseHubPlan(false, {}, true, {1, 2, 3, 4});
    EXPECT_EQ(Number({3}, 1, 2), 10 + (3 - 1) * 2 + 1);
    UseHubPlan(true, {1, 2, 3, 4}, true, {1, 2, 3, 4});
    EXPECT_EQ(Number({3}, 1, 2), 0) << "upstream group on, no upstream port";
}

TEST_F(PlanTest, EarlyReturns) {
    SelectStart(10);
    UseHubPlan(true, {1, 2}, true, {1, 2});
    EXPECT_EQ(Number({}, 0, 2), 0) << "no hub port in the path";
    EXPECT_EQ(Number({1, 1, 1, 1, 1, 1}, 0, 2), 0) << "path without end";
    EXPECT_EQ(Number({1, 3}, 0, 2), 0) << "unchecked downstream port";
    EXPECT_EQ(Number({3, 2}, 0, 2), 10 + 2) << "unchecked upstream port only drops its offset";
    EXPECT_EQ(Number({1, 9}, 0, 2), 0) << "downstream ports above 8 match no box";
    EXPECT_EQ(Number({40, 2}, 0, 2), 10 + 2) << "upstream ports above 8 match no box";

    UseHubPlan(false, {}, false, {});
    EXPECT_EQ(Number({1, 2}, 0, 2), 0) << "neither group on";

    UseHubPlan(true, {1, 2}, true, {1, 2});
    ClickButton(dialog, IDC_PLAN_SEQUENTIAL);
    EXPECT_EQ(Number({1, 2}, 0, 2), 0) << "sequential plan";
}

TEST_F(PlanTest, DownstreamOffsetUsesThePhysicalPortAndUpstreamBlocksTheCheckedCount) {
    SelectStart(1);
    UseHubPlan(true, {1, 2, 3}, true, {2, 5});
    // upstream port 3: block (3-1) * 2 checked * 4 ports = 16; downstream 5: (5-1)*4 + j
    EXPECT_EQ(Number({3, 5}, 1, 4), 16 + 16 + 1 + 0 + 1);
}

TEST_F(PlanTest, ArithmeticWrapsAt16Bits) {
    SelectStart(256);
    UseHubPlan(true, {8}, true, {1, 2, 3, 4, 5, 6, 7, 8});
    // (8-1) * 8 * 4000 = 224000 wraps; the result is taken modulo 65536.
    std::uint16_t expected = static_cast<std::uint16_t>(224000u + (8 - 1) * 4000u + 3u + 256u);
    EXPECT_EQ(Number({8, 8}, 3, 4000), expected);
}

TEST_F(PlanTest, UpstreamOnlyGivesEveryCardBehindAHubTheStartNumber) {
    SelectStart(10);
    UseHubPlan(true, {1, 2, 3, 4}, false, {});
    EXPECT_EQ(Number({2, 3}, 0, 2), 10);
    EXPECT_EQ(Number({2, 3}, 1, 2), 10);
    EXPECT_EQ(Number({3}, 0, 2), 0);
}

bool AllEnabled(Window dialog, const std::array<int, 8>& boxes, bool enabled) {
    for (int box : boxes) {
        if (IsControlEnabled(dialog, box) != enabled) return false;
    }
    return true;
}

TEST_F(PlanTest, HubControlsFollowThePlanAndTheSwitches) {
    // Start-up: sequential plan, everything greyed, downstream 1-4 checked.
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_HUB_UP));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_HUB_DOWN));
    EXPECT_TRUE(AllEnabled(dialog, kUpBoxes, false));
    EXPECT_TRUE(AllEnabled(dialog, kDownBoxes, false));
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_PLAN_HUB));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_HUB_DOWN));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_DOWN_PORT4));
    EXPECT_FALSE(IsButtonChecked(dialog, IDC_DOWN_PORT5));

    ClickButton(dialog, IDC_PLAN_HUB);
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_HUB_UP));
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_HUB_DOWN));
    EXPECT_TRUE(AllEnabled(dialog, kUpBoxes, false));
    EXPECT_TRUE(AllEnabled(dialog, kDownBoxes, true));

    ClickButton(dialog, IDC_HUB_UP);  // switches the upstream group on
    EXPECT_TRUE(AllEnabled(dialog, kUpBoxes, true));
    ClickButton(dialog, IDC_HUB_DOWN);  // and the downstream group off
    EXPECT_TRUE(AllEnabled(dialog, kDownBoxes, false));
    EXPECT_TRUE(AllEnabled(dialog, kUpBoxes, true));

    ClickButton(dialog, IDC_PLAN_SEQUENTIAL);
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_HUB_UP));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_HUB_DOWN));
    EXPECT_TRUE(AllEnabled(dialog, kUpBoxes, false));
    EXPECT_TRUE(IsButtonChecked(dialog, IDC_HUB_UP)) << "greying keeps the check marks";
}

}  // namespace
