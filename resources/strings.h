/* Every text the program shows or logs, in one place. The string table's
   texts are macros shared with kestrova.rc (windres reads them as code page
   65001; the native build serves them as they are); the rest are constants
   the resource compiler never sees. All UTF-8. */
#pragma once

#define KESTROVA_TEXT_PORTS_HELD \
    "当前串口号(%s)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?"
#define KESTROVA_TEXT_NUMBER_CLAIMED \
    "当前串口号(COM%d)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?"
#define KESTROVA_TEXT_NUMBERS_CLAIMED \
    "当前串口号(%s)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?"

#ifndef RC_INVOKED

/* Message boxes. */
constexpr inline char kBoxCaption[] = " Orvello";
constexpr inline char kStartFailCaption[] = "Kestrova";
constexpr inline char kTextSelectDevice[] = "请先选择一个设备.";
constexpr inline char kTextMixedCards[] =
    "只支持同类型多串卡的串口号修改,可根据HUB位置设定串口号，否则串口号可能会冲突。\n放弃本次操作?";
constexpr inline char kTextUpstreamOnly[] =
    "只选择Hub上游口而不选择Hub下游口时,多个串口会得到同一个串口号.\n"
    "请同时选择Hub下游口,或改用\"从起始串口号开始,依次递增\".";
constexpr inline char kTextRepeatedTargets[] =
    "以下串口将得到同一个串口号,本次修改已取消,未做任何修改:\n%s\n请选择其他起始串口号或编号方式.";
constexpr inline char kTextRunActive[] = "串口号修改正在进行,请等待修改完成后再关闭窗口.";
constexpr inline char kTextStartFailed[] = "未找到<X64\\Kestrova_X64.EXE>程序,运行失败!";
constexpr inline char kTextReleaseWarning[] =
    "串口号声明为<未使用/空闲>状态后,系统将会把<未使用>串口号分配给新设备,"
    "可能会造成串口号冲突和串口设备无法工作，请谨慎操作。\n点击<取消>将取消此操作";
constexpr inline char kTextReleaseFailed[] = "设定串口<未使用/空闲>状态失败.";
constexpr inline char kTextClaimFailed[] = "设定串口<使用中>状态失败.";
constexpr inline char kTextChooseRange[] = "请选择起始和结束串口号.";
constexpr inline char kTextReservedNumbers[] = "COM1/2为系统保留号,禁止操作.";

/* Pieces of the run's report and of the usage summary. */
constexpr inline char kTextSuccess[] = "成功";
constexpr inline char kTextFailure[] = "失败";
constexpr inline char kTextReplugHeld[] =
    "因原串口(%s)正被其他程序使用,需将其关闭后重新插拔多串卡，新串口号才能生效。";
constexpr inline char kTextUsageTotal[] = "\n****共%d个串口状态，声明为[%s]****";
constexpr inline char kTextStateFree[] = "未使用";
constexpr inline char kTextStateClaimed[] = "使用中";
constexpr inline char kTextUsageNotChanged[] = "\n未能修改:%s";

/* Log lines. */
constexpr inline char kLogRunStart[] = "串口号修改从COM%u开始...\n";
constexpr inline char kLogCancelledHeld[] = "串口号修改操作已取消1。";
constexpr inline char kLogCancelledClaimed[] = "串口号修改操作已取消2。";
constexpr inline char kLogRestarting[] = "Restarting...";
constexpr inline char kLogNoSelection[] = "No select serial port";
constexpr inline char kLogUpstreamOnly[] = "Hub上游口已选而Hub下游口未选,串口号修改已取消.";
constexpr inline char kLogRepeatedTargets[] = "串口号重复,修改已取消:%s";
constexpr inline char kLogNoStartDbClosed[] = "无法开始修改:串口号数据库未打开,没有起始串口号.";
constexpr inline char kLogNoStartDbFull[] = "无法开始修改:COM3及之后的串口号都已被分配,没有起始串口号.";
constexpr inline char kLogNoStartNumber[] = "无法开始修改:未选择起始串口号.";
constexpr inline char kLogCardWithoutPorts[] = "无法开始修改:所选多串卡没有报告任何串口.";
constexpr inline char kLogRunRefused[] = "串口号修改正在进行,请等待完成.";
constexpr inline char kLogListsAfterRun[] = "串口号修改进行中,列表将在修改完成后自动刷新.";
constexpr inline char kLogCloseRefused[] = "串口号修改进行中,不能关闭窗口.";
constexpr inline char kLogUsageCancelled[] = "操作取消";
constexpr inline char kLogNoRange[] = "未选择串口号，操作取消";
constexpr inline char kLogReservedNumber[] = "操作取消.COM%d为系统保留号,请选择COM3及之后的号";
constexpr inline char kLogUsageChanged[] = "串口号状态已设为[%s]:%s";
constexpr inline char kLogTooManyCards[] = "Device library reported %u cards; only %u fit the table, the rest are ignored.";
constexpr inline char kLogTooManyPorts[] = "Card %u: device library reported %u ports; only %u are read.";
constexpr inline char kLogNoSystemFolder[] = "Device Manager: system folder not found.";

/* The tree summary and the preview. */
constexpr inline char kTextSummaryTotal[] = "\r\n***已查找到%u个多串卡,共%u个串口.\r\n";
constexpr inline char kTextPreviewHead[] = "\r\n***预览串口号分配(未做任何修改):";
constexpr inline char kTextPreviewClaimed[] = " [已被分配]";
constexpr inline char kTextPreviewHeld[] = " [被占用]";
constexpr inline char kTextPreviewRepeated[] = " [重复]";
constexpr inline char kTextPreviewTotal[] =
    "\r\n***预览:共%u个串口,%u个目标串口号已被分配,%u个串口正被其他程序使用,%u个串口号重复.\r\n";

/* Rows of the main dialog's combos. */
constexpr inline const char* kCategoryRows[] = {
    "TAV UART Category:  ALL",
    "TAV UART Category:  USB(FS/HS) To UART",
    "TAV UART Category:  PCI/E To UART",
    "TAV UART Category:  BLE/Ethernet To UART",
};
constexpr inline const char* kOrderRows[] = {"按位置排列", "按转串口数排列"};
constexpr inline char kTextNoCard[] = "无串口卡";

#endif
