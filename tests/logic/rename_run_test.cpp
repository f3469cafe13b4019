// Whole rename runs: the worker on its own thread against the in-memory
// dialog and the card simulator, with scripted answers.
#include "renumber/worker.h"

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "program_fixture.h"

namespace {

class RenameRunTest : public ProgramTest {
protected:
    // The library calls of the last run, one per line ("Change(0,-1,0,3000)=1"), enumerations left out.
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
    static std::vector<SimCall> Calls(SimCallKind kind) {
        std::vector<SimCall> calls;
        for (int i = 0; i < SimCallCount(); ++i) {
            if (SimCallAt(i).kind == kind)
                calls.push_back(SimCallAt(i));
        }
        return calls;
    }
    int EnumerationsSinceClear() { return static_cast<int>(Calls(SimCallKind::enumerate).size()); }
    void Scope(int radio) { ClickButton(dialog, radio); }
    void HoldPort(const char* name) {
        std::string path = std::string("\\\\.\\") + name;
        ModelSetPortResult(path.c_str(), 5);
    }
    void ExpectIdleAfterRun() {
        EXPECT_EQ(busyFlag.load(), 0);
        EXPECT_TRUE(IsControlEnabled(dialog, IDC_ENUMERATE));
        EXPECT_TRUE(IsControlEnabled(dialog, IDC_CHANGE));
        EXPECT_EQ(ModelUnscriptedBoxes(), 0);
        EXPECT_FALSE(ModelRunLockOwned());
    }
};

// The progress bar, position/maximum, at each status change and rename.
void RecordProgress(void* context, const SimCall&) {
    auto* seen = static_cast<std::string*>(context);
    *seen += (seen->empty() ? "" : " ") + std::to_string(ModelProgressPos(mainDialog, IDC_PROGRESS)) + "/" +
             std::to_string(ModelProgressMax(mainDialog, IDC_PROGRESS));
}

// Whole runs from the dialog's settings to the library calls, the boxes and the log.
TEST_F(RenameRunTest, RunsAsTheSettingsAndAnswersSay) {
    const std::string claimedQuestion = "已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?";
    const std::string heldQuestion = "当前串口号(COM4,)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?";
    const std::string repeated = "以下串口将得到同一个串口号,本次修改已取消,未做任何修改:\n";
    const std::string pickOther = "\n请选择其他起始串口号或编号方式.";
    const std::string allReport =
        "\r\nPort 1-1:COM3==>COM20: 成功\r\nPort 1-2:COM4==>COM21: 成功\r\nPort 2-1:COM5==>COM22: 成功"
        "\r\nPort 2-2:COM6==>COM23: 成功\r\nPort 2-3:COM7==>COM24: 成功\r\nPort 2-4:COM8==>COM25: 成功";
    const std::vector<CardSpec> portless = {{.ports = 2}, {.ports = 0, .singlePort = true}};
    const std::vector<CardSpec> twoCards = {{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}};
    auto hubPlan = [this](bool upstream, unsigned start) {
        Scope(IDC_SCOPE_ALL);
        ClickButton(dialog, IDC_PLAN_HUB);
        if (upstream) {
            ClickButton(dialog, IDC_HUB_UP);
            for (int box : {IDC_UP_PORT1, IDC_UP_PORT2, IDC_UP_PORT3, IDC_UP_PORT4})
                ClickButton(dialog, box);
        }
        SelectStart(start);
    };
    struct Case {
        const char* what;
        std::vector<CardSpec> cards;
        std::function<void()> arrange;
        std::vector<int> answers;
        std::vector<std::string> calls;
        std::vector<unsigned> sleeps;
        std::string progressAtChanges;
        std::vector<std::string> boxes, logged;
        std::size_t portsOpened;
        int progressMax, progressPos;
    } cases[] = {
        // clang-format off
        {"card scope takes only the selected card; a failed rename is reported and the run goes on", twoCards,
         [&] {
             ASSERT_TRUE(SimSetFailRename(1, 1, true));
             SelectCard(1);
             SelectStart(10);
         },
         {kAnswerOk},
         {"Change(1,-1,0,3000)", "Modify(COM5,10)=1", "Modify(COM6,11)=0", "Change(1,-1,1,1000)"}, {0, 10, 10, 10},
         "1/2 2/5 2/5 1/2",
         {"\r\nPort 2-1:COM5==>COM10: 成功\r\nPort 2-2:COM6==>COM11: 失败"}, {}, 2, 2, 2},
        {"all cards count on in table order; claimed targets answered No",
         {{.ports = 2}, {.ports = 4, .firstNumber = 5}},
         [&] {
             Scope(IDC_SCOPE_ALL);
             SelectStart(10);
             for (unsigned n = 9; n <= 16; ++n)
                 ModelComDbSetClaimed(n, true);
         },
         {kAnswerNo}, {}, {}, "",
         {"当前串口号(COM10,COM11,COM12,COM13,COM14,COM15,)" + claimedQuestion},
         {"串口号修改操作已取消2。"}, 6, 5, 2},
        {"all cards answered OK", {{.ports = 2}, {.ports = 4, .firstNumber = 5}},
         [&] {
             Scope(IDC_SCOPE_ALL);
             SelectStart(20);
         },
         {kAnswerOk},
         {"Change(0,-1,0,3000)", "Change(1,-1,0,3000)", "Modify(COM3,20)=1", "Modify(COM4,21)=1", "Modify(COM5,22)=1",
          "Modify(COM6,23)=1", "Modify(COM7,24)=1", "Modify(COM8,25)=1", "Change(0,-1,1,1000)", "Change(1,-1,1,1000)"},
         {0, 0, 10, 10, 10, 10, 10, 10, 10, 10}, "1/2 1/2 2/5 2/5 5/5 2/5 3/5 4/5 1/2 1/2", {allReport},
         {"串口号修改从COM20开始...\n", "Restarting...", "****" + allReport}, 6, 2, 2},
        {"port scope checks only that port and ignores the hub plan, upstream only included",
         {{.ports = 4, .hubPath = {2, 3}}},
         [&] {
             Scope(IDC_SCOPE_PORT);
             for (int id : {IDC_PLAN_HUB, IDC_HUB_UP, IDC_HUB_DOWN})
                 ClickButton(dialog, id);
             SelectPort(1);
             SelectStart(7);
             ModelComDbSetClaimed(7, true);
             ModelComDbSetClaimed(8, true);
         },
         {kAnswerYes, kAnswerOk},
         {"Change(0,1,0,1000)", "Modify(COM4,7)=1", "Change(0,1,1,1000)"}, {}, "3/3 1/3 2/3",
         {"当前串口号(COM7,)" + claimedQuestion, "Port 1-2:COM4==>COM7: 成功\r\n"}, {}, 1, 3, 3},
        {"held port answered No", {{.ports = 2}},
         [&] {
             SelectStart(10);
             HoldPort("COM4");
         },
         {kAnswerNo}, {}, {}, "", {heldQuestion},
         {"  \\\\.\\COM4.CreateFile:Last Err(5)Access is denied.", "串口号修改操作已取消1。"}, 2, 5, 0},
        {"held port answered Yes: the report advises replugging", {{.ports = 2}},
         [&] {
             SelectStart(10);
             HoldPort("COM4");
         },
         {kAnswerYes, kAnswerOk},
         {"Change(0,-1,0,3000)", "Modify(COM3,10)=1", "Modify(COM4,11)=1", "Change(0,-1,1,1000)"}, {0, 10, 10, 10},
         "1/1 1/5 2/5 1/1", {heldQuestion, "\r\nPort 1-1:COM3==>COM10: 成功\r\nPort 1-2:COM4==>COM11: 成功"
          "因原串口(COM4,)正被其他程序使用,需将其关闭后重新插拔多串卡，新串口号才能生效。"}, {}, 2, 1, 1},
        {"hub plan: no hub port counts from the start, downstream port 3 from (3-1)*2 + 30; both questions answered "
         "Yes", {{.ports = 2}, {.ports = 2, .firstNumber = 5, .hubPath = {3}}},
         [&] {
             hubPlan(false, 30);
             ModelComDbSetClaimed(34, true);
             HoldPort("COM3");
         },
         {kAnswerYes, kAnswerYes, kAnswerOk},
         {"Change(0,-1,0,3000)", "Change(1,-1,0,3000)", "Modify(COM3,30)=1", "Modify(COM4,31)=1", "Modify(COM5,34)=1",
          "Modify(COM6,35)=1", "Change(0,-1,1,1000)", "Change(1,-1,1,1000)"}, {0, 0, 10, 10, 10, 10, 10, 10},
         "1/2 1/2 2/5 2/5 5/5 2/5 1/2 1/2",
         {"当前串口号(COM3,)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?", "当前串口号(COM34,)" + claimedQuestion,
          "\r\nPort 1-1:COM3==>COM30: 成功\r\nPort 1-2:COM4==>COM31: 成功\r\nPort 2-1:COM5==>COM34: 成功"
          "\r\nPort 2-2:COM6==>COM35: " "成功因原串口(COM3,)正被其他程序使用,需将其关闭后重新插拔多串卡，新串口号才能生效。"}, {}, 4, 2, 2},
        {"hub plan over mixed cards answered Yes changes nothing",
         {{.ports = 4, .hubPath = {1, 1}}, {.ports = 2, .firstNumber = 9, .hubPath = {1, 2}}},
         [&] { ClickButton(dialog, IDC_PLAN_HUB); }, {kAnswerYes}, {}, {}, "",
         {"只支持同类型多串卡的串口号修改,可根据HUB位置设定串口号，否则串口号可能会冲突。\n放弃本次操作?"}, {}, 0, 3, 1},
        {"upstream without downstream is refused", {{.ports = 2, .hubPath = {1, 2}}},
         [&] {
             for (int id : {IDC_PLAN_HUB, IDC_HUB_UP, IDC_HUB_DOWN})
                 ClickButton(dialog, id);
         },
         {kAnswerOk}, {}, {}, "",
         {"只选择Hub上游口而不选择Hub下游口时,多个串口会得到同一个串口号.\n" "请同时选择Hub下游口,或改用\"从起始串口号开始,依次递增\"."},
         {"Hub上游口已选而Hub下游口未选,串口号修改已取消."}, 0, 3, 1},
        {"repeat: root-hub card with the upstream group on takes the running number",
         {{.ports = 2, .hubPath = {2}}, {.ports = 2, .firstNumber = 5, .hubPath = {1, 1}}},
         [&] { hubPlan(true, 30); }, {kAnswerOk}, {}, {}, "",
         {repeated + "COM30: 1#P1(COM3), 2#P1(COM5)\nCOM31: 1#P2(COM4), 2#P2(COM6)" + pickOther},
         {"串口号重复,修改已取消:COM30: 1#P1(COM3), 2#P1(COM5)\nCOM31: 1#P2(COM4), 2#P2(COM6)"}, 0, 3, 1},
        {"repeat: same downstream port of two hubs",
         {{.ports = 2, .hubPath = {1, 2}}, {.ports = 2, .firstNumber = 5, .hubPath = {2, 2}}},
         [&] { hubPlan(false, 30); }, {kAnswerOk}, {}, {}, "",
         {repeated + "COM32: 1#P1(COM3), 2#P1(COM5)\nCOM33: 1#P2(COM4), 2#P2(COM6)" + pickOther},
         {"串口号重复,修改已取消:COM32: 1#P1(COM3), 2#P1(COM5)\nCOM33: 1#P2(COM4), 2#P2(COM6)"}, 0, 3, 1},
        {"repeat from COM1: a card without hub number takes numbers another card's hub port gives",
         {{.ports = 2}, {.ports = 2, .firstNumber = 5, .hubPath = {1}}}, [&] { hubPlan(false, 1); }, {kAnswerOk}, {},
         {}, "", {repeated + "COM1: 1#P1(COM3), 2#P1(COM5)\nCOM2: 1#P2(COM4), 2#P2(COM6)" + pickOther},
         {"串口号重复,修改已取消:COM1: 1#P1(COM3), 2#P1(COM5)\nCOM2: 1#P2(COM4), 2#P2(COM6)"}, 0, 3, 1},
        {"no port row", portless, [&] { ListSelectRow(dialog, IDC_PORT_LIST, -1); }, {kAnswerOk}, {}, {}, "",
         {"请先选择一个设备."}, {"No select serial port"}, 0, 3, 0},
        {"card without ports", portless,
         [&] {
             SelectCard(1);
             ListSelectRow(dialog, IDC_PORT_LIST, 0);
         },
         {kAnswerOk}, {}, {}, "",
         {"请先选择一个设备."},
         {"无法开始修改:所选多串卡没有报告任何串口."}, 0, 3, 0},
        {"database full", portless,
         [&] {
             for (unsigned n = 3; n <= 256; ++n)
                 ModelComDbSetClaimed(n, true);
             ComboSelectRow(dialog, IDC_START_NUMBER, -1);
         },
         {kAnswerOk}, {}, {}, "",
         {"请先选择一个设备."},
         {"无法开始修改:COM3及之后的串口号都已被分配,没有起始串口号."}, 0, 3, 0},
        {"database closed", portless,
         [&] {
             comDb.store(InvalidComDb());
             ModelComDbFailOpen(5);
             ComboSelectRow(dialog, IDC_START_NUMBER, -1);
         },
         {kAnswerOk}, {}, {}, "",
         {"请先选择一个设备."},
         {"无法开始修改:串口号数据库未打开,没有起始串口号."}, 0, 3, 0},
        {"start number typed over", portless, [&] { ComboSelectRow(dialog, IDC_START_NUMBER, -1); }, {kAnswerOk}, {},
         {}, "",
         {"请先选择一个设备."},
         {"无法开始修改:未选择起始串口号."}, 0, 3, 0},
        // clang-format on
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TearDown();
        SetUp();
        OpenMain(c.cards);
        c.arrange();
        SimClearCalls();
        for (int answer : c.answers)
            ModelQueueAnswer(answer);
        ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_PREVIEW, 0), 0);
        const std::string preview = Log();
        const std::size_t openedByPreview = ModelOpenedPorts().size();
        std::string progressSeen;
        SimSetChangeHook(RecordProgress, &progressSeen);
        RunChange();
        EXPECT_EQ(RunCalls(), c.calls);
        for (const SimCall& call : Calls(SimCallKind::modify)) {
            EXPECT_TRUE(Contains(preview, ":" + std::string(call.portName) + "==>COM" + std::to_string(call.number)))
                << "the preview shows what the run does: " << call.portName;
        }
        EXPECT_EQ(ModelSleeps(), c.sleeps);
        EXPECT_EQ(progressSeen, c.progressAtChanges) << "the progress bar at each status change and rename";
        EXPECT_EQ(BoxTexts(), c.boxes);
        for (int i = 0; i < ModelBoxCount(); ++i)
            EXPECT_EQ(ModelBoxAt(i).owner, dialog);
        for (const std::string& line : c.logged)
            EXPECT_TRUE(Contains(Log(), ">> " + line + "\r\n")) << line;
        EXPECT_EQ(ModelOpenedPorts().size() - openedByPreview, c.portsOpened)
            << "ports are checked once the run can go on";
        EXPECT_EQ(ModelProgressMax(dialog, IDC_PROGRESS), c.progressMax);
        EXPECT_EQ(ModelProgressPos(dialog, IDC_PROGRESS), c.progressPos);
        for (int card = 0; card < static_cast<int>(c.cards.size()); ++card)
            EXPECT_TRUE(SimCardEnabled(card));
        EXPECT_EQ(EnumerationsSinceClear(), 1) << "every run ends with a re-enumeration";
        ExpectIdleAfterRun();
    }
}

TEST_F(RenameRunTest, OverlongListsAndReportAreShortenedVisibly) {
    // 128 held ports with 40-character names overflow the 4096-byte list, and
    // their result lines with long descriptions the 10240-byte report.
    nlohmann::json cards = nlohmann::json::array();
    for (int d = 0; d < 2; ++d) {
        nlohmann::json ports = nlohmann::json::array();
        for (int j = 0; j < 64; ++j) {
            char name[64];
            std::snprintf(name, sizeof name, "SERIAL-PORT-WITH-A-LONG-DEVICE-NAME-%04d", d * 64 + j);
            ports.push_back({{"name", name}, {"number", 0}, {"description", std::string(200, 'd')}});
            HoldPort(name);
        }
        cards.push_back({{"category", "usb"}, {"name", "Card"}, {"ports", ports}});
    }
    LoadJson({{"cards", cards}});
    OpenMain();
    Scope(IDC_SCOPE_ALL);
    SelectStart(3);
    ModelQueueAnswer(kAnswerYes);
    ModelQueueAnswer(kAnswerOk);
    RunChange();

    ASSERT_EQ(ModelBoxCount(), 2);
    std::string question = ModelBoxAt(0).text;
    EXPECT_TRUE(Contains(question, "LONG-DEVICE-NAME-0090,")) << "the held list fills its 4096 bytes";
    EXPECT_TRUE(Contains(question, "...)正被其他程序使用")) << "and shows that it was cut";
    std::string report = ModelBoxAt(1).text;
    EXPECT_LT(report.size(), 10240u);
    EXPECT_EQ(report.substr(report.size() - 3), "...");
    EXPECT_TRUE(SimCardEnabled(1)) << "every card comes back";
    EXPECT_EQ(SimPortNumber(1, 63), 130u);
    ExpectIdleAfterRun();
}

TEST_F(RenameRunTest, AWorkerThatCannotStartLeavesTheProgramIdle) {
    OpenMain({{.ports = 2}});
    ModelSetStartThreadFails(true);
    SimClearCalls();
    ClickButton(dialog, IDC_CHANGE);
    EXPECT_TRUE(Contains(Log(), ">> CreateThread:Last Err(")) << Log();
    EXPECT_TRUE(RunCalls().empty());
    ExpectIdleAfterRun();
}

// A bigger mapping made before leaves entries beyond the new count behind.
TEST_F(RenameRunTest, RepeatsAreTakenFromThisMappingOnly) {
    std::vector<CardSpec> cards = {
        {.ports = 2}, {.ports = 2, .firstNumber = 5, .hubPath = {1}}, {.ports = 2, .firstNumber = 7, .hubPath = {1}}};
    OpenMain(cards);
    Scope(IDC_SCOPE_ALL);
    ClickButton(dialog, IDC_PLAN_HUB);
    for (std::size_t count : {3, 2}) {
        cards.resize(count);
        LoadCards(cards);
        ClickButton(dialog, IDC_ENUMERATE);
        SelectStart(30);
        EditSetText(dialog, IDC_LOG, "");
        ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_PREVIEW, 0), 0);
        ModelResetBoxes();
        ModelQueueAnswer(kAnswerOk);
        RunChange();
    }
    EXPECT_TRUE(Contains(Log(), "***预览:共4个串口,0个目标串口号已被分配,0个串口正被其他程序使用,4个串口号重复."))
        << Log();
    EXPECT_EQ(BoxTexts(), std::vector<std::string>{"以下串口将得到同一个串口号,本次修改已取消,未做任何修改:\n"
                                                   "COM30: 1#P1(COM3), 2#P1(COM5)\nCOM31: 1#P2(COM4), 2#P2(COM6)"
                                                   "\n请选择其他起始串口号或编号方式."});
}

// Card 1 sits on a root port without hub number: its ports take the running
// number from the start; card 2 on downstream port 3: (3-1)*2 + j + 30.
TEST_F(RenameRunTest, PreviewListsEveryPortWithItsMarksAndChangesNothing) {
    OpenMain({{.ports = 2, .firstNumber = 3, .hubPath = {}}, {.ports = 2, .firstNumber = 5, .hubPath = {3}}});
    Scope(IDC_SCOPE_ALL);
    ClickButton(dialog, IDC_PLAN_HUB);
    SelectStart(30);
    ModelComDbSetClaimed(34, true);
    HoldPort("COM3");
    SimClearCalls();
    EditSetText(dialog, IDC_LOG, "");
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_PREVIEW, 0), 0);
    EXPECT_TRUE(RunCalls().empty());
    EXPECT_EQ(Log(),
              "\r\n***预览串口号分配(未做任何修改):"
              "\r\nPort 1-1:COM3==>COM30 [被占用]\r\nPort 1-2:COM4==>COM31"
              "\r\nPort 2-1:COM5==>COM34 [已被分配]\r\nPort 2-2:COM6==>COM35"
              "\r\n***预览:共4个串口,1个目标串口号已被分配,1个串口正被其他程序使用,0个串口号重复.\r\n");
}

TEST_F(RenameRunTest, PreviewOfAPlanARunWouldRefuseShowsTheRefusalOnly) {
    OpenMain({{.ports = 2, .hubPath = {1, 2}}});
    Scope(IDC_SCOPE_ALL);
    ClickButton(dialog, IDC_PLAN_HUB);
    ClickButton(dialog, IDC_HUB_UP);
    ClickButton(dialog, IDC_HUB_DOWN);
    EditSetText(dialog, IDC_LOG, "");
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_PREVIEW, 0), 0);
    EXPECT_TRUE(Contains(Log(), ">> Hub上游口已选而Hub下游口未选,串口号修改已取消.\r\n"));
    EXPECT_FALSE(Contains(Log(), "***预览"));
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

class RunningRenameTest : public RenameRunTest {
protected:
    void StartHeldRun() {
        OpenMain({{.ports = 2, .firstNumber = 3}, {.ports = 2, .firstNumber = 5}});
        SelectStart(10);
        SimSetChangeHook(HoldInFirstChange, &gate);
        SimClearCalls();
        ModelQueueAnswer(kAnswerOk);  // the report
        ClickButton(dialog, IDC_CHANGE);
        ASSERT_TRUE(ModelPumpUntil(Entered, &gate, 10000));
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
    EXPECT_TRUE(Contains(Log(), "串口号修改正在进行,请等待完成."));
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

    // Undo from the menu is a run of its own, with the controls locked.
    gate.entered = false;
    gate.released = false;
    SimSetChangeHook(HoldInFirstChange, &gate);
    ModelQueueAnswer(kAnswerOk);
    ModelSendMessage(dialog, kMsgCommand, CommandParam(IDM_UNDO, 0), 0);
    ASSERT_TRUE(ModelPumpUntil(Entered, &gate, 10000));
    EXPECT_FALSE(IsControlEnabled(dialog, IDC_CHANGE));
    FinishRun();
    EXPECT_EQ(SimPortNumber(0, 0), 3u);

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

TEST_F(RenameRunTest, UserInputAroundTheEndOfARunStartsNothing) {
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
