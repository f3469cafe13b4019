// Hub-position numbers, and the plan as the dialog's boxes give it.
#include "renumber/plan.h"

#include "program_fixture.h"

namespace {

NumberingPlan Hub(int startCom, HubMask up, HubMask down) {
    return NumberingPlan{1, static_cast<std::uint16_t>(startCom - 1), up, down};
}

std::uint16_t Number(const NumberingPlan& plan, std::initializer_list<std::uint16_t> hubPorts, std::uint16_t port,
                     std::uint16_t count) {
    std::uint16_t path[10] = {0, 0, 7};  // element 2 is no hub port, even when set
    unsigned k = 3;
    for (std::uint16_t p : hubPorts)
        path[k++] = p;
    return ComputeHubNumber(plan, path, port, count);
}

constexpr HubMask kOn = kHubGroupOn;

TEST(HubNumber, FormulaAndItsEdges) {
    struct Case {
        NumberingPlan plan;
        std::initializer_list<std::uint16_t> path;
        std::uint16_t port, count, expected;
        const char* what;
    } cases[] = {
        {Hub(10, kOn | 0x0F, kOn | 0x0F), {2, 3}, 0, 2, 22, "worked example, first port"},
        {Hub(10, kOn | 0x0F, kOn | 0x0F), {2, 3}, 1, 2, 23, "worked example, second port"},
        {Hub(10, 0, kOn | 0x0F), {3}, 1, 2, 10 + 4 + 1, "root-hub port, downstream only"},
        {Hub(10, kOn | 0x0F, kOn | 0x0F), {3}, 1, 2, 0, "root-hub port with the upstream group on"},
        {Hub(10, kOn | 0x03, kOn | 0x03), {}, 0, 2, 0, "no hub port in the path"},
        {Hub(10, kOn | 0x03, kOn | 0x03), {1, 1, 1, 1, 1, 1}, 0, 2, 0, "path without end"},
        {Hub(10, kOn | 0x03, kOn | 0x03), {1, 3}, 0, 2, 0, "unchecked downstream port"},
        {Hub(10, kOn | 0x03, kOn | 0x03), {3, 2}, 0, 2, 12, "unchecked upstream port drops only its offset"},
        {Hub(10, kOn | 0x03, kOn | 0x03), {1, 9}, 0, 2, 0, "downstream port above 8"},
        {Hub(10, kOn | 0x03, kOn | 0x03), {40, 2}, 0, 2, 12, "upstream port above 8"},
        {Hub(10, 0, 0), {1, 2}, 0, 2, 0, "neither group on"},
        {NumberingPlan{0, 9, kOn | 0x03, kOn | 0x03}, {1, 2}, 0, 2, 0, "sequential plan"},
        {Hub(1, kOn | 0x07, kOn | 0x12), {3, 5}, 1, 4, 16 + 16 + 1 + 1, "physical downstream port, checked count"},
        {Hub(10, kOn | 0x0F, 0), {2, 3}, 1, 2, 10, "upstream only: the start number"},
        {Hub(10, kOn | 0x0F, 0), {3}, 0, 2, 0, "upstream only, root-hub port"},
        {Hub(256, kOn | 0x80, kOn | 0xFF),
         {8, 8},
         3,
         4000,
         static_cast<std::uint16_t>(224000u + 7u * 4000u + 3u + 256u),
         "16-bit wrap"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Number(c.plan, c.path, c.port, c.count), c.expected) << c.what;
    }
}

class PlanTest : public ProgramTest {};

TEST_F(PlanTest, ReadFromTheBoxes) {
    OpenMain({});
    SelectStart(10);
    NumberingPlan sequential = ReadNumberingPlan();
    EXPECT_EQ(sequential.hubMode, 0);
    EXPECT_EQ(sequential.downMask, 0) << "masks are read only for the hub plan";
    ClickButton(dialog, IDC_PLAN_HUB);
    ClickButton(dialog, IDC_HUB_UP);
    ClickButton(dialog, IDC_UP_PORT8);
    ClickButton(dialog, IDC_DOWN_PORT1);
    NumberingPlan hub = ReadNumberingPlan();
    EXPECT_EQ(hub.hubMode, 1);
    EXPECT_EQ(hub.startIndex, 9);
    EXPECT_EQ(hub.upMask, kOn | 0x80);
    EXPECT_EQ(hub.downMask, kOn | 0x0E);
    ClickButton(dialog, IDC_HUB_DOWN);
    EXPECT_EQ(ReadNumberingPlan().downMask, 0);
}

}  // namespace
