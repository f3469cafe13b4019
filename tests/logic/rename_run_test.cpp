// Whole rename runs: the core's runs with a recording reporter and scripted
// answers against the card simulator, then the main dialog's runs with the
// worker on its own thread.
#include "renumber/worker.h"

#include <atomic>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "inventory/devmgr.h"
#include "program_fixture.h"
#include "renumber/rename_order.h"
#include "resources/strings.h"

namespace {

// The library's status changes and renames, one a line ("Change(0,-1,0,3000)",
// "Modify(COM3,20)=1"), enumerations left out.
std::vector<std::string> RunCalls() {
    std::vector<std::string> calls;
    for (int i = 0; i < SimCallCount(); ++i) {
        SimCall call = SimCallAt(i);
        char line[128];
        if (call.kind == SimCallKind::change) {
            std::snprintf(line, sizeof line, "Change(%d,%d,%u,%u)", call.card, call.port, call.enable, call.timeMs);
        } else if (call.kind == SimCallKind::modify) {
            std::snprintf(line, sizeof line, "Modify(%s,%u)=%ld", call.portName, call.number, call.result);
        } else {
            continue;
        }
        calls.emplace_back(line);
    }
    return calls;
}

int Enumerations() {
    int count = 0;
    for (int i = 0; i < SimCallCount(); ++i) {
        count += SimCallAt(i).kind == SimCallKind::enumerate ? 1 : 0;
    }
    return count;
}

void HoldPort(const char* name) {
    std::string path = std::string("\\\\.\\") + name;
    ModelSetPortResult(path.c_str(), 5);
}

// Puts each status change and rename among the reported events.
void RecordCall(void* context, const SimCall& call) {
    static_cast<TestReporter*>(context)->Add(call.kind == SimCallKind::modify ? "call:modify" : "call:change");
}

// The numbers of the first card's two ports.
std::vector<unsigned> FirstCard() { return {SimPortNumber(0, 0), SimPortNumber(0, 1)}; }

// The progress, position/maximum, as reported before each status change and rename.
std::string ProgressAtCalls(const TestReporter& reporter) {
    std::string seen;
    std::string range = "?";
    std::string position = "?";
    for (const std::string& e : reporter.All()) {
        if (e.rfind("range:", 0) == 0) {
            range = e.substr(6);
        } else if (e.rfind("pos:", 0) == 0) {
            position = e.substr(4);
        } else if (e.rfind("call:", 0) == 0) {
            seen += (seen.empty() ? "" : " ") + position + "/" + range;
        }
    }
    return seen;
}

constexpr NumberingPlan kSequential{0, 0, 0, 0};
constexpr NumberingPlan kHub{1, 0, 0, kDefaultDownMask};
constexpr NumberingPlan kHubUpToo{1, 0, kHubGroupOn | 0x0F, kDefaultDownMask};
constexpr NumberingPlan kUpOnly{1, 0, kHubGroupOn, 0};

class CoreRunTest : public ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        reporter.Clear();
        InstallReporter(&reporter);
    }
    // The cards listed as the dialog lists them at start: USB, by position.
    void List(const std::vector<CardSpec>& cards) {
        LoadCards(cards);
        EnsureComDbOpen();
        ListCards(kCategoryUsb, kOrderByPosition);
    }
    static RunRequest Request(RenameScope scope, int card, int port, unsigned start, NumberingPlan plan) {
        return MakeRunRequest(scope, card, port, static_cast<int>(start) - 1, plan.hubMode != 0, plan.upMask,
                              plan.downMask, kCategoryUsb, kOrderByPosition);
    }
    void ExpectIdleAfterRun() {
        EXPECT_EQ(busyFlag.load(), 0);
        EXPECT_EQ(reporter.Unscripted(), 0);
        EXPECT_FALSE(ModelRunLockOwned());
    }
    TestReporter reporter;
};

// Whole runs from the request to the library calls, the questions and the log.
TEST_F(CoreRunTest, RunsAsTheRequestAndAnswersSay) {
    const std::string claimedQuestion = "已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?";
    const std::string heldQuestion = "当前串口号(COM4,)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?";
    const std::string repeated = "以下串口将得到同一个串口号,本次修改已取消,未做任何修改:\n";
    const std::string pickOther = "\n请选择其他起始串口号或编号方式.";
    const std::string allReport =
        "\r\nPort 1-1:COM3==>COM20: 成功\r\nPort 1-2:COM4==>COM21: 成功\r\nPort 2-1:COM5==>COM22: 成功"
        "\r\nPort 2-2:COM6==>COM23: 成功\r\nPort 2-3:COM7==>COM24: 成功\r\nPort 2-4:COM8==>COM25: 成功";
    const std::vector<CardSpec> portless = {{.ports = 2}, {.ports = 0, .singlePort = true}};
    const std::vector<CardSpec> twoCards = {{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}};
    const auto all = RenameScope::AllCards;
    const auto card = RenameScope::SelectedCard;
    struct Case {
        const char* what;
        std::vector<CardSpec> cards;
        RunRequest request;
        std::function<void()> arrange;
        std::vector<bool> answers;
        std::vector<std::string> calls;
        std::vector<unsigned> sleeps;
        std::string progressAtCalls;
        std::vector<std::string> asked, told, logged;
        std::size_t portsOpened;
        std::string lastProgress;
    } cases[] = {
        // clang-format off
        {"card scope takes only the selected card; a failed rename is reported and the run goes on", twoCards,
         Request(card, 1, 0, 10, kSequential), [] { ASSERT_TRUE(SimSetFailRename(1, 1, true)); }, {},
         {"Change(1,-1,0,3000)", "Modify(COM5,10)=1", "Modify(COM6,11)=0", "Change(1,-1,1,1000)"}, {0, 10, 10, 10},
         "1/2 2/5 2/5 1/2", {}, {"\r\nPort 2-1:COM5==>COM10: 成功\r\nPort 2-2:COM6==>COM11: 失败"}, {}, 2, "2/2"},
        {"all cards count on in table order; claimed targets answered No", {{.ports = 2}, {.ports = 4, .firstNumber = 5}},
         Request(all, 0, 0, 10, kSequential),
         [] {
             for (unsigned n = 9; n <= 16; ++n)
                 ModelComDbSetClaimed(n, true);
         },
         {false}, {}, {}, "", {"当前串口号(COM10,COM11,COM12,COM13,COM14,COM15,)" + claimedQuestion}, {},
         {"串口号修改操作已取消2。"}, 6, "2/5"},
        {"all cards answered OK", {{.ports = 2}, {.ports = 4, .firstNumber = 5}}, Request(all, 0, 0, 20, kSequential),
         [] {}, {},
         {"Change(0,-1,0,3000)", "Change(1,-1,0,3000)", "Modify(COM3,20)=1", "Modify(COM4,21)=1", "Modify(COM5,22)=1",
          "Modify(COM6,23)=1", "Modify(COM7,24)=1", "Modify(COM8,25)=1", "Change(0,-1,1,1000)", "Change(1,-1,1,1000)"},
         {0, 0, 10, 10, 10, 10, 10, 10, 10, 10}, "1/2 1/2 2/5 2/5 5/5 2/5 3/5 4/5 1/2 1/2", {}, {allReport},
         {"串口号修改从COM20开始...\n", "Restarting...", "****" + allReport}, 6, "2/2"},
        {"port scope checks only that port and ignores the hub plan, upstream only included",
         {{.ports = 4, .hubPath = {2, 3}}}, Request(RenameScope::SelectedPort, 0, 1, 7, kUpOnly),
         [] {
             ModelComDbSetClaimed(7, true);
             ModelComDbSetClaimed(8, true);
         },
         {true}, {"Change(0,1,0,1000)", "Modify(COM4,7)=1", "Change(0,1,1,1000)"}, {}, "3/3 1/3 2/3",
         {"当前串口号(COM7,)" + claimedQuestion}, {"Port 1-2:COM4==>COM7: 成功\r\n"}, {}, 1, "3/3"},
        {"held port answered No", {{.ports = 2}}, Request(card, 0, 0, 10, kSequential), [] { HoldPort("COM4"); },
         {false}, {}, {}, "", {heldQuestion}, {},
         {"  \\\\.\\COM4.CreateFile:Last Err(5)Access is denied.", "串口号修改操作已取消1。"}, 2, "0/5"},
        {"held port answered Yes: the report advises replugging", {{.ports = 2}}, Request(card, 0, 0, 10, kSequential),
         [] { HoldPort("COM4"); }, {true},
         {"Change(0,-1,0,3000)", "Modify(COM3,10)=1", "Modify(COM4,11)=1", "Change(0,-1,1,1000)"}, {0, 10, 10, 10},
         "1/1 1/5 2/5 1/1", {heldQuestion}, {"\r\nPort 1-1:COM3==>COM10: 成功\r\nPort 1-2:COM4==>COM11: 成功"
          "因原串口(COM4,)正被其他程序使用,需将其关闭后重新插拔多串卡，新串口号才能生效。"}, {}, 2, "1/1"},
        {"hub plan: no hub port counts from the start, downstream port 3 from (3-1)*2 + 30; both questions answered "
         "Yes", {{.ports = 2}, {.ports = 2, .firstNumber = 5, .hubPath = {3}}}, Request(all, 0, 0, 30, kHub),
         [] {
             ModelComDbSetClaimed(34, true);
             HoldPort("COM3");
         },
         {true, true},
         {"Change(0,-1,0,3000)", "Change(1,-1,0,3000)", "Modify(COM3,30)=1", "Modify(COM4,31)=1", "Modify(COM5,34)=1",
          "Modify(COM6,35)=1", "Change(0,-1,1,1000)", "Change(1,-1,1,1000)"}, {0, 0, 10, 10, 10, 10, 10, 10},
         "1/2 1/2 2/5 2/5 5/5 2/5 1/2 1/2",
         {"当前串口号(COM3,)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?", "当前串口号(COM34,)" + claimedQuestion},
         {"\r\nPort 1-1:COM3==>COM30: 成功\r\nPort 1-2:COM4==>COM31: 成功\r\nPort 2-1:COM5==>COM34: 成功"
          "\r\nPort 2-2:COM6==>COM35: " "成功因原串口(COM3,)正被其他程序使用,需将其关闭后重新插拔多串卡，新串口号才能生效。"}, {}, 4, "2/2"},
        {"hub plan over mixed cards answered Yes changes nothing",
         {{.ports = 4, .hubPath = {1, 1}}, {.ports = 2, .firstNumber = 9, .hubPath = {1, 2}}},
         Request(card, 0, 0, 3, kHub), [] {}, {false}, {}, {}, "",
         {"只支持同类型多串卡的串口号修改,可根据HUB位置设定串口号，否则串口号可能会冲突。\n放弃本次操作?"}, {}, {}, 0, "1/3"},
        {"upstream without downstream is refused", {{.ports = 2, .hubPath = {1, 2}}}, Request(card, 0, 0, 3, kUpOnly),
         [] {}, {}, {}, {}, "", {},
         {"只选择Hub上游口而不选择Hub下游口时,多个串口会得到同一个串口号.\n" "请同时选择Hub下游口,或改用\"从起始串口号开始,依次递增\"."},
         {"Hub上游口已选而Hub下游口未选,串口号修改已取消."}, 0, "1/3"},
        {"repeat: root-hub card with the upstream group on takes the running number",
         {{.ports = 2, .hubPath = {2}}, {.ports = 2, .firstNumber = 5, .hubPath = {1, 1}}},
         Request(all, 0, 0, 30, kHubUpToo), [] {}, {}, {}, {}, "", {},
         {repeated + "COM30: 1#P1(COM3), 2#P1(COM5)\nCOM31: 1#P2(COM4), 2#P2(COM6)" + pickOther},
         {"串口号重复,修改已取消:COM30: 1#P1(COM3), 2#P1(COM5)\nCOM31: 1#P2(COM4), 2#P2(COM6)"}, 0, "1/3"},
        {"repeat: same downstream port of two hubs",
         {{.ports = 2, .hubPath = {1, 2}}, {.ports = 2, .firstNumber = 5, .hubPath = {2, 2}}},
         Request(all, 0, 0, 30, kHub), [] {}, {}, {}, {}, "", {},
         {repeated + "COM32: 1#P1(COM3), 2#P1(COM5)\nCOM33: 1#P2(COM4), 2#P2(COM6)" + pickOther},
         {"串口号重复,修改已取消:COM32: 1#P1(COM3), 2#P1(COM5)\nCOM33: 1#P2(COM4), 2#P2(COM6)"}, 0, "1/3"},
        {"repeat from COM1: a card without hub number takes numbers another card's hub port gives",
         {{.ports = 2}, {.ports = 2, .firstNumber = 5, .hubPath = {1}}}, Request(all, 0, 0, 1, kHub), [] {}, {}, {},
         {}, "", {}, {repeated + "COM1: 1#P1(COM3), 2#P1(COM5)\nCOM2: 1#P2(COM4), 2#P2(COM6)" + pickOther},
         {"串口号重复,修改已取消:COM1: 1#P1(COM3), 2#P1(COM5)\nCOM2: 1#P2(COM4), 2#P2(COM6)"}, 0, "1/3"},
        {"no port row", portless, Request(card, 0, -1, 3, kSequential), [] {}, {}, {}, {}, "", {},
         {"请先选择一个设备."}, {"No select serial port"}, 0, "?/3"},
        {"card without ports", portless, Request(card, 1, 0, 3, kSequential), [] {}, {}, {}, {}, "", {},
         {"请先选择一个设备."}, {"无法开始修改:所选多串卡没有报告任何串口."}, 0, "?/3"},
        {"database full", portless, Request(card, 0, 0, 0, kSequential),
         [] {
             for (unsigned n = 3; n <= 256; ++n)
                 ModelComDbSetClaimed(n, true);
         },
         {}, {}, {}, "", {}, {"请先选择一个设备."}, {"无法开始修改:COM3及之后的串口号都已被分配,没有起始串口号."}, 0, "?/3"},
        {"database closed", portless, Request(card, 0, 0, 0, kSequential),
         [] {
             comDb.store(InvalidComDb());
             ModelComDbFailOpen(5);
         },
         {}, {}, {}, "", {}, {"请先选择一个设备."}, {"无法开始修改:串口号数据库未打开,没有起始串口号."}, 0, "?/3"},
        {"no start number, COM3 free", portless, Request(card, 0, 0, 0, kSequential),
         [] {
             for (unsigned n = 4; n <= 256; ++n)
                 ModelComDbSetClaimed(n, true);
         },
         {}, {}, {}, "", {}, {"请先选择一个设备."}, {"无法开始修改:未选择起始串口号."}, 0, "?/3"},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        List(c.cards);
        c.arrange();
        SimClearCalls();
        PreviewRequest(c.request);
        const std::string preview = reporter.Output();
        const std::size_t openedByPreview = ModelOpenedPorts().size();
        for (bool answer : c.answers)
            reporter.Answer(answer);
        SimSetChangeHook(RecordCall, &reporter);
        RenameHere(c.request);
        SimSetChangeHook(nullptr, nullptr);
        EXPECT_EQ(RunCalls(), c.calls);
        for (int i = 0; i < SimCallCount(); ++i) {
            SimCall call = SimCallAt(i);
            if (call.kind == SimCallKind::modify) {
                EXPECT_TRUE(
                    Contains(preview, ":" + std::string(call.portName) + "==>COM" + std::to_string(call.number)))
                    << "the preview shows what the run does: " << call.portName;
            }
        }
        EXPECT_EQ(ModelSleeps(), c.sleeps);
        EXPECT_EQ(ProgressAtCalls(reporter), c.progressAtCalls) << "the progress at each status change and rename";
        EXPECT_EQ(reporter.Events("ask:"), c.asked);
        EXPECT_EQ(reporter.Events("tell:"), c.told);
        for (const std::string& line : c.logged)
            EXPECT_TRUE(Contains(reporter.Log(), ">> " + line + "\r\n")) << line;
        EXPECT_EQ(ModelOpenedPorts().size() - openedByPreview, c.portsOpened)
            << "ports are checked once the run can go on";
        std::vector<std::string> ranges = reporter.Events("range:");
        std::vector<std::string> positions = reporter.Events("pos:");
        EXPECT_EQ((positions.empty() ? "?" : positions.back()) + "/" + ranges.back(), c.lastProgress);
        for (int i = 0; i < static_cast<int>(c.cards.size()); ++i)
            EXPECT_TRUE(SimCardEnabled(i));
        ExpectIdleAfterRun();
    }
}

// 128 ports with 40-character names that are no COM names overflow the
// 4096-byte list of ports a run leaves alone; 128 held COM ports with long
// descriptions overflow the 10240-byte report.
TEST_F(CoreRunTest, OverlongListsAndReportAreShortenedVisibly) {
    for (bool comNames : {false, true}) {
        SCOPED_TRACE(comNames ? "COM names" : "other names");
        TearDown();
        SetUp();
        nlohmann::json cards = nlohmann::json::array();
        for (int d = 0; d < 2; ++d) {
            nlohmann::json ports = nlohmann::json::array();
            for (int j = 0; j < 64; ++j) {
                char name[64];
                std::snprintf(name, sizeof name, comNames ? "COM%d" : "SERIAL-PORT-WITH-A-LONG-DEVICE-NAME-%04d",
                              d * 64 + j + 3);
                ports.push_back({{"name", name}, {"description", std::string(200, 'd')}});
                HoldPort(name);
            }
            cards.push_back({{"category", "usb"}, {"name", "Card"}, {"ports", ports}});
        }
        LoadJson({{"cards", cards}});
        EnsureComDbOpen();
        ListCards(kCategoryUsb, kOrderByPosition);
        reporter.Answer(true);
        reporter.Answer(true);
        RenameHere(Request(RenameScope::AllCards, 0, 0, 300, kSequential));
        ASSERT_EQ(reporter.Events("ask:").size(), comNames ? 1u : 2u);
        std::string question = reporter.Events("ask:")[0];
        EXPECT_EQ(Contains(question, "LONG-DEVICE-NAME-0060),"), !comNames) << "the list fills its 4096 bytes";
        EXPECT_EQ(Contains(question, "...\n仍然修改其他串口?"), !comNames) << "and shows that it was cut";
        EXPECT_EQ(SimPortNumber(1, 63), comNames ? 427u : 130u) << "only COM names are renamed";
        EXPECT_TRUE(SimCardEnabled(1)) << "every card comes back";
        if (comNames) {
            ASSERT_EQ(reporter.Events("tell:").size(), 1u);
            std::string report = reporter.Events("tell:")[0];
            EXPECT_LT(report.size(), 10240u);
            EXPECT_EQ(report.substr(report.size() - 3), "...");
        }
        ExpectIdleAfterRun();
    }
}

// A bigger mapping made before leaves entries beyond the new count behind.
TEST_F(CoreRunTest, RepeatsAreTakenFromThisMappingOnly) {
    std::vector<CardSpec> cards = {
        {.ports = 2}, {.ports = 2, .firstNumber = 5, .hubPath = {1}}, {.ports = 2, .firstNumber = 7, .hubPath = {1}}};
    for (std::size_t count : {3, 2}) {
        cards.resize(count);
        List(cards);
        RenameHere(Request(RenameScope::AllCards, 0, 0, 30, kHub));
    }
    PreviewRequest(Request(RenameScope::AllCards, 0, 0, 30, kHub));
    EXPECT_TRUE(
        Contains(reporter.Output(), "***预览:共4个串口,0个目标串口号已被分配,0个串口正被其他程序使用,4个串口号重复."))
        << reporter.Output();
    EXPECT_EQ(reporter.Events("tell:").back(),
              "以下串口将得到同一个串口号,本次修改已取消,未做任何修改:\n"
              "COM30: 1#P1(COM3), 2#P1(COM5)\nCOM31: 1#P2(COM4), 2#P2(COM6)"
              "\n请选择其他起始串口号或编号方式.");
}

// Card 1 sits on a root port without hub number: its ports take the running
// number from the start; card 2 on downstream port 3: (3-1)*2 + j + 30.
TEST_F(CoreRunTest, PreviewListsEveryPortWithItsMarksAndChangesNothing) {
    List({{.ports = 2, .firstNumber = 3, .hubPath = {}}, {.ports = 2, .firstNumber = 5, .hubPath = {3}}});
    ModelComDbSetClaimed(34, true);
    HoldPort("COM3");
    SimClearCalls();
    EXPECT_TRUE(PreviewRequest(Request(RenameScope::AllCards, 0, 0, 30, kHub)));
    EXPECT_TRUE(RunCalls().empty());
    EXPECT_EQ(reporter.Output(),
              "\r\n***预览串口号分配(未做任何修改):"
              "\r\nPort 1-1:COM3==>COM30 [被占用]\r\nPort 1-2:COM4==>COM31"
              "\r\nPort 2-1:COM5==>COM34 [已被分配]\r\nPort 2-2:COM6==>COM35"
              "\r\n***预览:共4个串口,1个目标串口号已被分配,1个串口正被其他程序使用,0个串口号重复.\r\n");

    const std::size_t shown = reporter.Output().size();
    EXPECT_FALSE(PreviewRequest(Request(RenameScope::AllCards, 0, 0, 30, kUpOnly)));
    EXPECT_TRUE(Contains(reporter.Log(), ">> Hub上游口已选而Hub下游口未选,串口号修改已取消.\r\n"));
    EXPECT_EQ(reporter.Output().size(), shown) << "a refused preview shows the refusal only";
}

// What the user chose from is what the run maps: cards that changed while
// the run waited for the machine stop it before any change.
TEST_F(CoreRunTest, CardsThatChangedSinceTheyWereListedStopTheRun) {
    List({{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}});
    LoadCards({{.ports = 2, .firstNumber = 20}, {.ports = 2, .firstNumber = 5}});
    SimClearCalls();
    EXPECT_EQ(RenameHere(Request(RenameScope::SelectedCard, 1, 0, 30, kSequential)), RunOutcome::CardsChanged);
    EXPECT_TRUE(RunCalls().empty());
    EXPECT_EQ(Enumerations(), 1) << "the run looked at the cards again";
    EXPECT_EQ(reporter.Events("tell:"), std::vector<std::string>{kTextCardsChanged});
    EXPECT_TRUE(Contains(reporter.Log(), std::string(">> ") + kLogCardsChanged));
    ExpectIdleAfterRun();

    ModelSetRunLockHeldElsewhere(true);
    EXPECT_EQ(RenameHere(Request(RenameScope::SelectedCard, 1, 0, 30, kSequential)), RunOutcome::Busy);
    EXPECT_TRUE(Contains(reporter.Log(), std::string(">> ") + kLogMachineBusy));
    EXPECT_EQ(Enumerations(), 1) << "a run that cannot have the machine looks at nothing";
    ModelSetRunLockHeldElsewhere(false);
}

// Holds the worker inside its first ChangeDeviceStatus until released.
struct Gate {
    std::atomic<bool> entered{false};
    std::atomic<bool> released{false};
};

void HoldInFirstChange(void* context, const SimCall&) {
    auto* gate = static_cast<Gate*>(context);
    if (gate->entered.exchange(true)) {
        return;
    }
    while (!gate->released.load()) {
        std::this_thread::yield();
    }
}

bool Entered(void* context) { return static_cast<Gate*>(context)->entered.load(); }

class DialogRunTest : public ProgramTest {
protected:
    void ExpectIdleAfterRun() {
        EXPECT_EQ(busyFlag.load(), 0);
        EXPECT_TRUE(IsControlEnabled(dialog, IDC_ENUMERATE));
        EXPECT_TRUE(IsControlEnabled(dialog, IDC_CHANGE));
        EXPECT_EQ(ModelUnscriptedBoxes(), 0);
        EXPECT_FALSE(ModelRunLockOwned());
    }
};

// The request is what the controls say when Change is pressed.
TEST_F(DialogRunTest, TheRequestIsReadFromTheControls) {
    OpenMain({{.ports = 2}, {.ports = 4, .firstNumber = 5}});
    SelectCard(1);
    SelectPort(2);
    SelectStart(12);
    RunRequest request = ReadRunRequest();
    EXPECT_EQ(request.scope, RenameScope::SelectedCard);
    EXPECT_EQ(request.device, 1);
    EXPECT_EQ(request.port, 2);
    EXPECT_EQ(request.startRow, 11);
    EXPECT_EQ(request.plan.hubMode, 0);
    EXPECT_EQ(request.plan.downMask, 0) << "masks only for the hub plan";
    EXPECT_EQ(request.plan.upMask, 0);
    EXPECT_EQ(request.category, kCategoryUsb);
    ClickButton(dialog, IDC_SCOPE_ALL);
    ClickButton(dialog, IDC_PLAN_HUB);
    ClickButton(dialog, IDC_HUB_UP);
    ClickButton(dialog, IDC_UP_PORT2);
    request = ReadRunRequest();
    EXPECT_EQ(request.scope, RenameScope::AllCards);
    EXPECT_EQ(request.plan.hubMode, 1);
    EXPECT_EQ(request.plan.startIndex, 11);
    EXPECT_EQ(request.plan.upMask, kHubGroupOn | 0x02);
    EXPECT_EQ(request.plan.downMask, kDefaultDownMask);
    ClickButton(dialog, IDC_SCOPE_PORT);
    SelectCombo(IDC_ORDER, 1);
    request = ReadRunRequest();
    EXPECT_EQ(request.scope, RenameScope::SelectedPort);
    EXPECT_EQ(request.order, 1);
}

// A run from Change: its questions and report in boxes of the main dialog,
// its progress on the bar, its lines in the log; at its end the start list
// moves to the first free number and the lists show the new numbers.
TEST_F(DialogRunTest, ChangeRunsOnAWorkerAndShowsItsReports) {
    OpenMain({{.ports = 2}});
    SelectStart(10);
    ModelComDbSetClaimed(11, true);
    ModelQueueAnswer(kAnswerYes);
    ModelQueueAnswer(kAnswerOk);
    SimClearCalls();
    ClickButton(dialog, IDC_CHANGE);
    WaitForWorker();
    ModelPump();
    EXPECT_EQ(SimPortNumber(0, 0), 10u);
    ASSERT_EQ(ModelBoxCount(), 2);
    EXPECT_EQ(ModelBoxAt(0).kind, kBoxInfoYesNo);
    EXPECT_EQ(ModelBoxAt(1).text, "\r\nPort 1-1:COM3==>COM10: 成功\r\nPort 1-2:COM4==>COM11: 成功");
    for (int i = 0; i < ModelBoxCount(); ++i) {
        EXPECT_EQ(ModelBoxAt(i).owner, dialog);
        EXPECT_EQ(ModelBoxAt(i).caption, " Orvello");
    }
    EXPECT_EQ(ModelProgressMax(dialog, IDC_PROGRESS), 1);
    EXPECT_EQ(ModelProgressPos(dialog, IDC_PROGRESS), 1);
    EXPECT_TRUE(Contains(Log(), ">> 串口号修改从COM10开始...\n\r\n")) << Log();
    EXPECT_LT(Log().find(">> Restarting..."), Log().find(">> ****\r\nPort 1-1:COM3==>COM10"));
    EXPECT_EQ(ListRow(IDC_PORT_LIST, 0), " 1/2# [CDC]: Port 1-1");
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 2) << "the first free number";
    int enumerations = 0;
    for (int i = 0; i < SimCallCount(); ++i)
        enumerations += SimCallAt(i).kind == SimCallKind::enumerate ? 1 : 0;
    EXPECT_EQ(enumerations, 2) << "the run's own look at the cards, then the lists'";
    ExpectIdleAfterRun();

    EditSetText(dialog, IDC_LOG, "");
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_PREVIEW, 0), 0);
    EXPECT_EQ(Log().rfind("\r\n***预览串口号分配(未做任何修改):\r\nPort 1-1:COM10==>COM3", 0), 0u)
        << "the preview goes to the log";
}

// The mixed-cards question asks whether to give up: its Yes ends the run, its
// No goes on (here to numbers the ports have already).
TEST_F(DialogRunTest, TheMixedCardsQuestionsYesGivesTheRunUp) {
    OpenMain({{.ports = 4, .hubPath = {1, 1}}, {.ports = 2, .firstNumber = 9, .hubPath = {1, 2}}});
    ClickButton(dialog, IDC_PLAN_HUB);
    for (int answer : {kAnswerYes, kAnswerNo}) {
        ModelQueueAnswer(answer);
        ModelQueueAnswer(kAnswerOk);
        ClickButton(dialog, IDC_CHANGE);
        WaitForWorker();
    }
    EXPECT_EQ(BoxTexts().size(), 3u);
    EXPECT_EQ(BoxTexts().back(), kTextNothingToChange);
}

TEST_F(DialogRunTest, AWorkerThatCannotStartLeavesTheProgramIdle) {
    OpenMain({{.ports = 2}});
    ModelSetStartThreadFails(true);
    SimClearCalls();
    ClickButton(dialog, IDC_CHANGE);
    EXPECT_TRUE(Contains(Log(), ">> CreateThread:Last Err(")) << Log();
    EXPECT_TRUE(RunCalls().empty());
    ExpectIdleAfterRun();
}

class RunningRenameTest : public DialogRunTest {
protected:
    int EnumerationsSinceClear() { return Enumerations(); }
    void StartHeldRun() {
        OpenMain({{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}});
        SelectStart(10);
        SimSetChangeHook(HoldInFirstChange, &gate);
        SimClearCalls();
        ModelQueueAnswer(kAnswerOk);  // the report
        ClickButton(dialog, IDC_CHANGE);
        ASSERT_TRUE(ModelPumpUntil(Entered, &gate, 10000));
        ModelPump();  // what the worker queued before it stopped
        ASSERT_EQ(busyFlag.load(), 1);
        ASSERT_EQ(ModelProgressMax(dialog, IDC_PROGRESS), 1) << "switching cards off counts cards";
    }
    void FinishRun() {
        gate.released = true;
        WaitForWorker();
        SimSetChangeHook(nullptr, nullptr);
    }
    Gate gate;
};

// While a run lasts its request stands, its controls are locked, and nothing the
// user does starts, rewrites or closes anything; what was left waiting follows.
TEST_F(RunningRenameTest, WhileARunLastsNothingElseStarts) {
    StartHeldRun();
    for (int id : {IDC_ENUMERATE, IDC_CHANGE, IDC_ADAPTER_LIST, IDC_PORT_LIST, IDC_START_NUMBER, IDC_SCOPE_ALL,
                   IDC_PLAN_HUB, IDC_CATEGORY, IDC_ORDER}) {
        EXPECT_FALSE(IsControlEnabled(dialog, id)) << id;
    }
    // Under Wine a disabled control still takes a click: the run must not care.
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDC_CHANGE, kButtonClicked), 0);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_UNDO, 0), 0);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_APPLY_LAYOUT, 0), 0);
    ClickButton(dialog, IDC_SCOPE_ALL);
    ClickButton(dialog, IDC_PLAN_HUB);
    ComboSelectRow(dialog, IDC_START_NUMBER, -1);
    SelectCombo(IDC_CATEGORY, 0);
    SelectCombo(IDC_ORDER, 1);
    int before = EnumerationsSinceClear();
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDC_ENUMERATE, kButtonClicked), 0);
    std::uint32_t usb[3] = {12, kDeviceTypeInterface, 0};
    ModelSendMessage(dialog, kMsgDeviceChange, kDeviceArrival, reinterpret_cast<intptr_t>(usb));
    ModelQueueAnswer(kAnswerOk);
    ModelQueueAnswer(kAnswerOk);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(kCommandCancel, kButtonClicked), 0);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_EXIT, kButtonClicked), 0);
    ModelPump();
    EXPECT_EQ(ModelStartedThreads(), 1);
    EXPECT_EQ(EnumerationsSinceClear(), before) << "the table must not be rewritten under the worker";
    EXPECT_EQ(Occurrences(Log(), kLogRunRefused), 3) << "Change, Undo and a layout's apply";
    EXPECT_TRUE(Contains(Log(), "串口号修改进行中,列表将在修改完成后自动刷新."));
    EXPECT_TRUE(ModelIsWindow(dialog));
    EXPECT_TRUE(SimIsInitialised());
    EXPECT_EQ(BoxTexts(), (std::vector<std::string>(2, "串口号修改正在进行,请等待修改完成后再关闭窗口.")));
    EXPECT_TRUE(Contains(Log(), ">> 串口号修改进行中,不能关闭窗口.\r\n"));

    FinishRun();
    EXPECT_EQ(RunCalls(), (std::vector<std::string>{"Change(0,-1,0,3000)", "Modify(COM3,10)=1", "Modify(COM4,11)=1",
                                                    "Change(0,-1,1,1000)"}));
    SimCall last = SimCallAt(SimCallCount() - 1);
    EXPECT_EQ(last.kind, SimCallKind::enumerate);
    EXPECT_EQ(last.category, 0u) << "the run's own refresh uses the new choice";
    EXPECT_EQ(last.order, 1u);
    EXPECT_TRUE(IsControlEnabled(dialog, IDC_START_NUMBER));
    ExpectIdleAfterRun();

    SimClearCalls();
    ModelPump();
    EXPECT_EQ(EnumerationsSinceClear(), 0) << "the arrival during the run left nothing queued";
    std::uint32_t volume[3] = {12, 2, 0};
    ModelSendMessage(dialog, kMsgDeviceChange, kDeviceArrival, reinterpret_cast<intptr_t>(volume));
    ModelSendMessage(dialog, kMsgDeviceChange, 0x0007, 0);                                // DBT_DEVNODES_CHANGED
    ModelSendMessage(dialog, kMsgDeviceChange, 0x8001, reinterpret_cast<intptr_t>(usb));  // query remove
    ModelSendMessage(dialog, kMsgDeviceChange, kDeviceArrival, 0);                        // no header
    ModelPump();
    EXPECT_EQ(EnumerationsSinceClear(), 0) << "only USB interface arrivals and removals refresh";
    ModelSendMessage(dialog, kMsgDeviceChange, kDeviceRemoveComplete, reinterpret_cast<intptr_t>(usb));
    EXPECT_EQ(EnumerationsSinceClear(), 0) << "posted, not run inside the broadcast";
    ModelPump();
    EXPECT_EQ(EnumerationsSinceClear(), 1);

    // Undo from the menu and a layout's apply are runs of their own, with the controls locked.
    auto held = [&](unsigned command) {
        gate.entered = false;
        gate.released = false;
        SimSetChangeHook(HoldInFirstChange, &gate);
        ModelSendMessage(dialog, kMsgCommand, CommandParam(command, 0), 0);
        ASSERT_TRUE(ModelPumpUntil(Entered, &gate, 10000));
        EXPECT_FALSE(IsControlEnabled(dialog, IDC_CHANGE));
        FinishRun();
    };
    ModelQueueAnswer(kAnswerOk);
    held(IDM_UNDO);
    EXPECT_EQ(SimPortNumber(0, 0), 3u);
    ModelQueueFilePath("C:\\layout.json");
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_EXPORT_LAYOUT, 0), 0);
    std::string text;
    ASSERT_TRUE(ModelFile("C:\\layout.json", &text));
    nlohmann::json layout = nlohmann::json::parse(text);
    layout["cards"][0]["ports"][0]["number"] = 9;
    ModelSetFile("C:\\layout.json", layout.dump());
    ModelQueueFilePath("C:\\layout.json");
    ModelQueueAnswer(kAnswerYes);
    ModelQueueAnswer(kAnswerOk);
    held(IDM_APPLY_LAYOUT);
    EXPECT_EQ(SimPortNumber(0, 0), 9u);

    ModelSendMessage(dialog, kMsgCommand, CommandParam(kCommandCancel, kButtonClicked), 0);
    EXPECT_FALSE(ModelIsWindow(dialog)) << "after the run the window closes";
    EXPECT_FALSE(SimIsInitialised());
}

// Fires user input at the user-interface thread from inside every library
// call of the run, its last one just before the run's end included.
void InjectUserInput(void* context, const SimCall&) {
    auto dialog = static_cast<Window>(context);
    PostButtonClick(dialog, IDC_CHANGE);
    SetControlFocus(dialog, IDC_ADAPTER_LIST);
    SetControlFocus(dialog, IDC_START_NUMBER);
    static std::uint32_t usb[3] = {12, kDeviceTypeInterface, 0};
    ModelSendMessage(dialog, kMsgDeviceChange, kDeviceArrival, reinterpret_cast<intptr_t>(usb));
}

TEST_F(DialogRunTest, UserInputAroundTheEndOfARunStartsNothing) {
    OpenMain({{.ports = 2, .firstNumber = 3}});
    SelectStart(10);
    SimSetChangeHook(InjectUserInput, dialog);
    SimClearCalls();
    ModelQueueAnswer(kAnswerOk);
    RunChange();
    SimSetChangeHook(nullptr, nullptr);
    ModelPump();
    EXPECT_EQ(ModelStartedThreads(), 1);
    EXPECT_EQ(BoxTexts().size(), 1u) << "only the report";
    EXPECT_EQ(ComboGetCount(dialog, IDC_START_NUMBER), 256);
    EXPECT_EQ(ComboGetSelection(dialog, IDC_START_NUMBER), 2) << "the first free number";
    ExpectIdleAfterRun();
}

}  // namespace

namespace {

std::vector<std::string> Renames() {
    std::vector<std::string> calls;
    for (const std::string& call : RunCalls()) {
        if (call.rfind("Modify", 0) == 0)
            calls.push_back(call);
    }
    return calls;
}

// No two ports carry one number at any moment: a shift onto the run's own
// numbers goes from the top and asks about none of them, an exchange goes
// through a free number, a run onto the numbers the ports have changes
// nothing, and a port whose name is no COM name is left alone.
TEST_F(CoreRunTest, RenamesAreOrderedSoThatNoNumberIsOnTwoPorts) {
    List({{.ports = 3, .firstNumber = 3}, {.ports = 2, .firstNumber = 6}});
    ModelComDbSetClaimed(9, true);
    for (unsigned n = 3; n <= 7; ++n)
        ModelComDbSetClaimed(n, true);
    EXPECT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 4, kSequential)), RunOutcome::Done);
    EXPECT_EQ(Renames(), (std::vector<std::string>{"Modify(COM7,8)=1", "Modify(COM6,7)=1", "Modify(COM5,6)=1",
                                                   "Modify(COM4,5)=1", "Modify(COM3,4)=1"}));
    EXPECT_TRUE(reporter.Events("ask:").empty()) << "numbers the run's own ports give up are not claimed";
    EXPECT_EQ(reporter.Events("tell:").back(),
              "\r\nPort 1-1:COM3==>COM4: 成功\r\nPort 1-2:COM4==>COM5: 成功\r\nPort 1-3:COM5==>COM6: 成功"
              "\r\nPort 2-1:COM6==>COM7: 成功\r\nPort 2-2:COM7==>COM8: 成功")
        << "the report in the order of the ports";

    // The cards now carry COM4 to COM8: the same run again changes nothing.
    ListCards(kCategoryUsb, kOrderByPosition);
    std::string journal;
    ASSERT_TRUE(ModelFile(kJournalFile, &journal));
    SimClearCalls();
    EXPECT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 4, kSequential)), RunOutcome::Done);
    EXPECT_TRUE(RunCalls().empty()) << "no card switched off, no port renamed";
    EXPECT_EQ(reporter.Events("tell:").back(), kTextNothingToChange);
    EXPECT_TRUE(Contains(reporter.Log(), std::string(">> ") + kLogNothingToChange));
    std::string after;
    ModelFile(kJournalFile, &after);
    EXPECT_EQ(after, journal) << "the last run that changed something can still be undone";

    // Ports 1 and 2 of card 1 exchange their numbers through a free one.
    LoadCards({{.ports = 1, .firstNumber = 4}, {.ports = 1, .firstNumber = 3}});
    ListCards(kCategoryUsb, kOrderByPosition);
    SimClearCalls();
    EXPECT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 3, kSequential)), RunOutcome::Done);
    EXPECT_EQ(Renames(), (std::vector<std::string>{"Modify(COM4,8)=1", "Modify(COM3,4)=1", "Modify(COM4,3)=1"}))
        << "COM5 to COM7 are claimed, COM8 is free";
    Journal& read = SampleJournal();
    ASSERT_TRUE(ModelFile(kJournalFile, &after));
    char reason[kJournalReasonSize];
    ASSERT_TRUE(JournalFromText(after.data(), after.size(), read, reason, sizeof reason)) << reason;
    EXPECT_TRUE(read.ports[0].renamed && read.ports[1].renamed);
    EXPECT_EQ(read.ports[0].temp, 0);

    // With a third port whose target, COM8, is the lowest free number, the
    // exchange goes through the next free one.
    LoadCards({{.ports = 1, .firstNumber = 4}, {.ports = 1, .firstNumber = 3}, {.ports = 1, .firstNumber = 20}});
    ListCards(kCategoryUsb, kOrderByPosition);
    SimClearCalls();
    reporter.Answer(true);  // COM5 is claimed
    EXPECT_EQ(RenameHere(MakeRunRequest(RenameScope::AllCards, 0, 0, 2, false, 0, 0, kCategoryUsb, kOrderByPosition)),
              RunOutcome::Done);
    EXPECT_EQ(Renames(), (std::vector<std::string>{"Modify(COM20,5)=1", "Modify(COM4,8)=1", "Modify(COM3,4)=1",
                                                   "Modify(COM4,3)=1"}))
        << "targets COM3 to COM5; the free number is neither carried nor a target";

    // A port named LPT1 is shown, asked about and left alone.
    LoadJson(
        {{"statusDelayMs", 0},
         {"cards", {{{"category", "usb"}, {"ports", {{{"name", "LPT1"}}, {{"name", "COM3"}}, {{"name", "COM05"}}}}}}}});
    ListCards(kCategoryUsb, kOrderByPosition);
    PreviewRequest(Request(RenameScope::SelectedCard, 0, 0, 20, kSequential));
    EXPECT_TRUE(Contains(reporter.Output(), ":LPT1==>COM20 [名称不是COMn,不修改]")) << reporter.Output();
    SimClearCalls();
    reporter.Answer(true);
    RenameHere(Request(RenameScope::SelectedCard, 0, 0, 20, kSequential));
    EXPECT_EQ(Renames(), std::vector<std::string>{"Modify(COM3,21)=1"});
    EXPECT_TRUE(Contains(reporter.Events("ask:").back(), "1#P1(LPT1),1#P3(COM05),")) << reporter.Events("ask:").back();
    EXPECT_TRUE(Contains(reporter.Log(), "名称不是COMn形式的串口不修改:1#P1(LPT1),1#P3(COM05),")) << reporter.Log();
    ExpectIdleAfterRun();
}

// Two exchanges in one run go through two free numbers, one after the other;
// a number a card outside the run carries is not free, and a run whose first
// port keeps its number renames the others all the same.
TEST_F(CoreRunTest, EachExchangeHasAFreeNumberOfItsOwn) {
    List({{.ports = 1, .firstNumber = 4},
          {.ports = 1, .firstNumber = 3},
          {.ports = 1, .firstNumber = 6},
          {.ports = 1, .firstNumber = 5}});
    ASSERT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 3, kSequential)), RunOutcome::Done);
    EXPECT_EQ(Renames(), (std::vector<std::string>{"Modify(COM4,7)=1", "Modify(COM3,4)=1", "Modify(COM4,3)=1",
                                                   "Modify(COM6,8)=1", "Modify(COM5,6)=1", "Modify(COM6,5)=1"}));
    std::string journal;
    ASSERT_TRUE(ModelFile(kJournalFile, &journal));
    EXPECT_EQ(Occurrences(journal, "\"step\":\"temp\""), 2) << "each way through a free number is journalled as one";
    LoadJson({{"statusDelayMs", 0},
              {"cards",
               {{{"category", "usb"}, {"ports", {{{"name", "COM6"}}}}},
                {{"category", "usb"}, {"ports", {{{"name", "COM3"}}, {{"name", "COM5"}}, {{"name", "COM4"}}}}},
                {{"category", "usb"}, {"ports", {{{"name", "COM7"}}}}}}}});
    ListCards(kCategoryUsb, kOrderByPosition);
    SimClearCalls();
    ASSERT_EQ(RenameHere(Request(RenameScope::SelectedCard, 1, 0, 3, kSequential)), RunOutcome::Done);
    EXPECT_EQ(Renames(), (std::vector<std::string>{"Modify(COM3,3)=1", "Modify(COM5,8)=1", "Modify(COM4,5)=1",
                                                   "Modify(COM5,4)=1"}));
    List({{.ports = 1, .firstNumber = 4}, {.ports = 1, .firstNumber = 3}, {.ports = 1, .firstNumber = 9}});
    SimClearCalls();
    ASSERT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 3, kSequential)), RunOutcome::Done);
    EXPECT_EQ(Renames(), (std::vector<std::string>{"Modify(COM9,5)=1", "Modify(COM4,6)=1", "Modify(COM3,4)=1",
                                                   "Modify(COM4,3)=1"}))
        << "COM5 is the third port's target, not free";
}

// A number another port of a card carries is not free; a name left past a
// card's port count or past the table's cards is no port's number.
TEST_F(CoreRunTest, OnlyThePortsOfTheTableCarryNumbers) {
    static DeviceTable cards{};
    cards.count = 1;
    cards.slots[0].portCount = 3;
    cards.slots[1].portCount = 1;
    for (auto [j, name] : {std::pair{0, "COM5"}, {1, "COM6"}, {2, "COM3"}, {3, "COM4"}, {kMaxPorts, "COM4"}}) {
        std::strcpy(cards.slots[j / kMaxPorts].ports[j % kMaxPorts].portName, name);
    }
    static RunMapping mapping{0, 1, 0, 2, {{0, 0, 6, 0}, {0, 1, 5, 0}}};  // ports 1 and 2 exchanged
    static RenameStep steps[kMaxRenameSteps];
    ASSERT_EQ(PlanRenames(cards, mapping, steps), 3u);
    EXPECT_EQ(steps[0].number, 4u);
}

// A mapping's entries beyond its count (a bigger run before) play no part.
TEST_F(CoreRunTest, ARunPlansFromItsOwnMappingOnly) {
    List({{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}});
    ASSERT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 20, kSequential)), RunOutcome::Done);
    ListCards(kCategoryUsb, kOrderByPosition);
    SimClearCalls();
    ASSERT_EQ(RenameHere(Request(RenameScope::SelectedCard, 0, 0, 22, kSequential)), RunOutcome::Done);
    EXPECT_EQ(Renames(), (std::vector<std::string>{"Modify(COM20,22)=1", "Modify(COM21,23)=1"}));

    // A run whose first port failed but whose second was renamed changed
    // something: undo puts that one back.
    ListCards(kCategoryUsb, kOrderByPosition);
    ASSERT_TRUE(SimSetFailRename(1, 0, true));
    EXPECT_EQ(RenameHere(Request(RenameScope::SelectedCard, 1, 0, 40, kSequential)), RunOutcome::PortFailed);
    EXPECT_EQ(SimPortNumber(1, 1), 41u);
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(SimPortNumber(1, 1), 23u);
    EXPECT_EQ(SimPortNumber(0, 0), 22u) << "the run before is not undone";
}

// Two cards of one hardware id and location are two cards to the journal:
// undo and recovery act on the right one, by slot and by their ports.
TEST_F(CoreRunTest, IdenticalCardsAreToldApartByTheirSlotsAndPorts) {
    nlohmann::json twins = nlohmann::json::array();
    for (int first : {3, 5}) {
        twins.push_back(
            {{"category", "usb"},
             {"usbId", "USB\\VID_1&PID_1"},
             {"ports", {{{"name", "COM" + std::to_string(first)}}, {{"name", "COM" + std::to_string(first + 1)}}}}});
    }
    LoadJson({{"statusDelayMs", 0}, {"cards", twins}});
    ListCards(kCategoryUsb, kOrderByPosition);
    EXPECT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 20, kSequential)), RunOutcome::Done);
    EXPECT_EQ(SimPortNumber(1, 1), 23u);
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ((std::vector{SimPortNumber(0, 0), SimPortNumber(0, 1), SimPortNumber(1, 0), SimPortNumber(1, 1)}),
              (std::vector<unsigned>{3, 4, 5, 6}));
}

// A listing without a category (its combo had no row) lists every card: the
// journal's category is all cards, so the undo finds a PCI card again.
TEST_F(CoreRunTest, AListingWithoutACategoryIsJournalledAsAllCards) {
    LoadCards({{.category = "pci", .ports = 2, .firstNumber = 3}});
    EnsureComDbOpen();
    ListCards(-1, kOrderByPosition);
    ASSERT_EQ(RenameHere(MakeRunRequest(RenameScope::SelectedCard, 0, 0, 19, false, 0, 0, -1, kOrderByPosition)),
              RunOutcome::Done);
    EXPECT_EQ(SimPortNumber(0, 0), 20u);
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(SimPortNumber(0, 0), 3u);

    // The category undo lists is that of the last run that changed something.
    ListCards(kCategoryPci, kOrderByPosition);
    ASSERT_TRUE(SimSetFailRename(0, 0, true));
    RenameHere(MakeRunRequest(RenameScope::SelectedPort, 0, 0, 29, false, 0, 0, kCategoryPci, kOrderByPosition));
    int category = 9;
    ASSERT_TRUE(LastRunCategory(&category));
    EXPECT_EQ(category, kCategoryAll);
}

// A run ended between a rename and its mark: recovery counts what the cards
// show, and the undo it offers puts that port back too.
TEST_F(CoreRunTest, RecoveryCountsThePortsThatCarryTheirTargets) {
    List({{.ports = 2, .firstNumber = 20}});
    Journal& open = SampleJournal();
    open.cardCount = 1;
    open.portCount = 2;
    open.ports[0].renamed = false;  // carries its target, COM20, all the same
    open.ports[1].renamed = true;
    ModelSetFile(kJournalFile, JournalText(open));
    Recovery recovery;
    ASSERT_TRUE(RecoverInterruptedRun(recovery));
    EXPECT_EQ(recovery.renamed, 2u);
    EXPECT_TRUE(Contains(reporter.Log(), "共2个串口,已修改2个.")) << reporter.Log();
    std::string text;
    ASSERT_TRUE(ModelFile(kJournalFile, &text));
    EXPECT_EQ(Occurrences(text, "\"step\":\"renamed\""), 1) << "a record for the port that had none, only";
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(FirstCard(), (std::vector<unsigned>{3, 4}));
}

}  // namespace

namespace {

// The undo is never lost: a run that fails without changing anything keeps
// the last run's undo; a journal that cannot take a step stops the run with
// every card on and says so; an undo cut off half-way is finished by the
// next one; a whole table's run writes its ports' worth of bytes.
TEST_F(CoreRunTest, TheJournalKeepsWhatUndoNeedsWhateverHappens) {
    List({{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}});
    ASSERT_EQ(RenameHere(Request(RenameScope::SelectedCard, 0, 0, 20, kSequential)), RunOutcome::Done);
    ListCards(kCategoryUsb, kOrderByPosition);
    ASSERT_TRUE(SimSetFailRename(1, 0, true));
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_EQ(RenameHere(Request(RenameScope::SelectedPort, 1, 0, 30, kSequential)), RunOutcome::PortFailed);
    }
    EXPECT_EQ(UndoHere(), RunOutcome::Done) << "the failed runs changed nothing";
    EXPECT_EQ(FirstCard(), (std::vector<unsigned>{3, 4}));
    ASSERT_TRUE(SimSetFailRename(1, 0, false));

    // The journal takes the run's beginning and its first rename, then no more.
    ListCards(kCategoryUsb, kOrderByPosition);
    reporter.Clear();
    ModelFailFileWritesAfter(2);
    SimClearCalls();
    EXPECT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 40, kSequential)), RunOutcome::PortFailed);
    ModelSetFileWritesFail(false);
    EXPECT_EQ(Renames().size(), 2u) << "the run stops after the rename its journal could not take";
    EXPECT_TRUE(SimCardEnabled(0) && SimCardEnabled(1));
    EXPECT_TRUE(Contains(reporter.Events("tell:").back(), kTextJournalStopped)) << reporter.Events("tell:").back();
    Recovery recovery;
    ASSERT_TRUE(RecoverInterruptedRun(recovery));
    EXPECT_EQ(recovery.renamed, 2u) << "the cards tell what the journal could not";
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ(FirstCard(), (std::vector<unsigned>{3, 4}));

    // An undo cut off after its first port: the recovery offers to finish it,
    // and the next undo does.
    ListCards(kCategoryUsb, kOrderByPosition);
    reporter.Clear();
    ASSERT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 50, kSequential)), RunOutcome::Done);
    EXPECT_FALSE(Contains(reporter.Log(), kLogJournalNotSaved)) << reporter.Log();
    ModelFailFileWritesAfter(2);
    EXPECT_EQ(UndoHere(), RunOutcome::PortFailed);
    ModelSetFileWritesFail(false);
    ASSERT_TRUE(RecoverInterruptedRun(recovery));
    EXPECT_TRUE(recovery.undo);
    EXPECT_EQ(recovery.renamed, 2u) << "the one renamed before its record too";
    EXPECT_EQ(UndoHere(), RunOutcome::Done);
    EXPECT_EQ((std::vector{SimPortNumber(0, 0), SimPortNumber(0, 1), SimPortNumber(1, 0), SimPortNumber(1, 1)}),
              (std::vector<unsigned>{3, 4, 5, 6}));
}

// At most 512 bytes a port (2 MB for a whole table of 4,096 ports) and one
// flush a port plus three, however many cards; the program-data folder is
// looked up a few times a run, not once a step.
TEST_F(CoreRunTest, ARunWritesItsPortsWorthOfJournal) {
    constexpr unsigned kCards = 4;
    constexpr unsigned kPorts = kCards * 64;
    std::vector<CardSpec> cards(kCards, CardSpec{.ports = 64});
    for (unsigned d = 0; d < kCards; ++d)
        cards[d].firstNumber = static_cast<int>(3 + d * 64);
    List(cards);
    ASSERT_EQ(RenameHere(Request(RenameScope::AllCards, 0, 0, 5000, kSequential)), RunOutcome::Done);
    std::size_t bytes = 0;
    unsigned flushes = 0;
    ModelFileWrites(kJournalFile, &bytes, &flushes);
    EXPECT_LE(bytes, kPorts * 512u);
    EXPECT_TRUE(flushes >= kPorts && flushes <= kPorts + 3u) << flushes << ": each rename's record flushed";
    EXPECT_LE(ModelProgramDataLookups(), 9u) << "the journal's steps reuse its path";
    EXPECT_EQ(SimPortNumber(kCards - 1, 63), 5000u + kPorts - 1);
}

}  // namespace
