/* Every text the program shows or logs, in one place. The string table's
   texts are macros shared with kestrova.rc (windres reads them as code page
   65001; the native build serves them as they are); the rest are constants
   the resource compiler never sees. All UTF-8. */
#pragma once

#define KESTROVA_TEXT_PORTS_HELD "当前串口号(%s)正被其他程序使用.修改串口号可能会出现不可预料的错误,仍然继续?"
#define KESTROVA_TEXT_NUMBER_CLAIMED "当前串口号(COM%d)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?"
#define KESTROVA_TEXT_NUMBERS_CLAIMED "当前串口号(%s)已被分配.如果多个设备使用一个串口号,会导致无法访问设备.仍然继续?"

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
constexpr inline char kTextReplugHeld[] = "因原串口(%s)正被其他程序使用,需将其关闭后重新插拔多串卡，新串口号才能生效。";
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
constexpr inline char kLogTooManyCards[] =
    "Device library reported %u cards; only %u fit the table, the rest are ignored.";
constexpr inline char kLogTooManyPorts[] = "Card %u: device library reported %u ports; only %u are read.";
constexpr inline char kLogNoSystemFolder[] = "Device Manager: system folder not found.";

/* The tree summary and the preview. */
constexpr inline char kTextSummaryTotal[] = "\r\n***已查找到%u个多串卡,共%u个串口.\r\n";
constexpr inline char kTextPreviewHead[] = "\r\n***预览串口号分配(未做任何修改):";
constexpr inline char kTextPreviewClaimed[] = " [已被分配]";
constexpr inline char kTextPreviewHeld[] = " [被占用]";
constexpr inline char kTextPreviewRepeated[] = " [重复]";
constexpr inline char kTextPreviewNotCom[] = " [名称不是COMn,不修改]";
constexpr inline char kTextPreviewTotal[] =
    "\r\n***预览:共%u个串口,%u个目标串口号已被分配,%u个串口正被其他程序使用,%u个串口号重复.\r\n";

/* Runs that hold the machine, the journal, undo and recovery. */
constexpr inline char kTextNotComPorts[] =
    "以下串口的名称不是COMn形式,修改后无法撤销,本次不修改它们:%s\n仍然修改其他串口?";
constexpr inline char kLogNotComPorts[] = "名称不是COMn形式的串口不修改:%s";
constexpr inline char kTextNothingToChange[] = "所有串口已是目标串口号,无需修改,未做任何修改.";
constexpr inline char kLogNothingToChange[] = "所有串口已是目标串口号,无需修改.";
constexpr inline char kTextMachineBusy[] =
    "另一个串口号修改正在进行(本机的其他窗口或命令),请等待其完成后再试.本次未做任何修改.";
constexpr inline char kLogMachineBusy[] = "另一个串口号修改正在进行,本次修改未开始.";
constexpr inline char kTextJournalNotSaved[] =
    "无法写入修改记录(程序数据文件夹下的Kestrova\\journal.json),本次修改已取消,未做任何修改.";
constexpr inline char kLogJournalNotSaved[] = "修改记录无法保存";
constexpr inline char kTextJournalStopped[] =
    "\r\n修改记录无法写入,修改已在此停止:标为成功的串口已修改,其余未修改;所有多串卡已重新启用.";
constexpr inline char kLogJournalStopped[] = "修改记录无法写入,修改已停止,多串卡已重新启用.";
constexpr inline char kTextJournalUnreadable[] = "修改记录文件无法读取或不完整(可能在写入时被中断)";
constexpr inline char kTextJournalForeign[] = "修改记录文件的内容与本程序写入的格式不符";
constexpr inline char kTextJournalTooBig[] = "修改记录文件过大";
constexpr inline char kTextJournalNoFolder[] = "找不到程序数据文件夹";
constexpr inline char kTextJournalRefused[] = "修改记录无法使用:%s.未做任何修改.";
constexpr inline char kLogJournalRefused[] = "修改记录无法使用:%s.未做任何修改.";
constexpr inline char kTextNothingToUndo[] = "没有可撤销的已完成修改,未做任何修改.";
constexpr inline char kTextUndoLeftAlone[] = "\r\n以下串口的串口号在上次修改之后已被改变,未撤销:%s";
constexpr inline char kLogUndoLeftAlone[] = "以下串口的串口号在上次修改之后已被改变,未撤销:%s";
constexpr inline char kLogUndoStart[] = "撤销上次修改:%u个串口...\n";
constexpr inline char kLogUndoFinish[] = "完成上次中途结束的撤销:%u个串口...\n";
constexpr inline char kLogRecoveryFound[] = "发现上次未完成的串口号修改:共%u个串口,已修改%u个.";
constexpr inline char kLogRecoveryCardMissing[] = "未找到上次修改停用的多串卡[%s][%s],无法重新启用.";
constexpr inline char kLogRecoveryEnabled[] = "已重新启用上次修改停用的多串卡%d#[%s][%s].";
constexpr inline char kLogRecoveryClosed[] = "上次未完成的修改已记为结束,可撤销已修改的串口.";
constexpr inline char kTextOfferUndo[] =
    "上次串口号修改未完成(程序中途结束),已重新启用它停用的多串卡.\n其中%u个串口已被修改,是否撤销这些修改?";
constexpr inline char kTextRecoveredUnattended[] =
    "上次串口号修改未完成(程序中途结束),已重新启用它停用的多串卡;其中%u个串口已被修改,可用 /undo 撤销.\n";
constexpr inline char kTextOfferFinishUndo[] =
    "上次撤销未完成(程序中途结束),已重新启用它停用的多串卡.\n其中%u个串口已撤销,是否完成撤销(撤销其余的串口)?";
constexpr inline char kTextRecoveredUndoUnattended[] =
    "上次撤销未完成(程序中途结束),已重新启用它停用的多串卡;其中%u个串口已撤销,可用 /undo 完成撤销.\n";
constexpr inline char kTextRecoveredUndoComplete[] =
    "上次撤销未完成(程序中途结束),已重新启用它停用的多串卡;它的%u个串口都已撤销.\n";
constexpr inline char kTextRecoveredCardsMissing[] =
    "上次串口号修改未完成(程序中途结束);它停用的多串卡中有%u个未找到,无法重新启用;其中%u个串口已被修改,可用 /undo "
    "撤销.\n";
constexpr inline char kTextJournalRefusedAtStart[] = "修改记录无法使用:%s.\n";
constexpr inline char kTextCardsChanged[] =
    "多串卡在列出之后已改变(另一个串口号修改或设备插拔),本次修改未开始,未做任何修改.请重新查看多串卡列表后再试.";
constexpr inline char kLogCardsChanged[] = "多串卡在列出之后已改变,本次修改未开始.";

/* Who holds the claimed numbers; stale claims; changes of the COM database undone. */
constexpr inline char kTextClaimsHeading[] = "***COM数据库中已分配的串口号(数据库共%u个号码):\r\n";
constexpr inline char kTextUnclaimedHeading[] = "***有串口使用但COM数据库中未分配的串口号:\r\n";
constexpr inline char kTextClaimsNone[] = "(无)\r\n";
constexpr inline char kTextClaimsOverflow[] = "(本机串口过多,只列出了前%u个)\r\n";
constexpr inline char kTextClaimLine[] = "COM%u: %s, %s\r\n";
constexpr inline char kTextHolderCard[] = "多串卡%u#P%u(%s)";
constexpr inline char kTextHolderPresent[] = "本机串口(%s)";
constexpr inline char kTextHolderAbsent[] = "当前不在的设备(%s),返回时将再用此号,保留";
constexpr inline char kTextHolderNone[] = "无设备使用,可释放";
constexpr inline char kTextHolderSystem[] = "无设备使用,系统保留号,不释放";
constexpr inline char kTextStaleAsk[] =
    "以下串口号在COM数据库中已分配,但本机没有任何串口使用它们:\n%s\n是否将它们设为<未使用/空闲>状态?";
constexpr inline char kTextStaleAbsentKept[] = "\n以下号码属于当前不在、返回时会再用其号码的设备,保留不变:%s";
constexpr inline char kTextStalePreview[] = "***无设备使用的已分配串口号(预览,未做任何修改):%s\n";
constexpr inline char kTextNoStaleClaims[] = "COM数据库中没有无设备使用的已分配串口号,未做任何修改.";
constexpr inline char kLogStaleFound[] = "无设备使用的已分配串口号:%s";
constexpr inline char kLogUndoDatabase[] = "撤销上次COM数据库修改:%u个串口号...";
constexpr inline char kLogUndoNumbersLeftAlone[] = "以下串口号在上次修改之后已被其他程序改变,未撤销:%s";
constexpr inline char kTextUndoNumbersLeftAlone[] = "\n以下串口号在上次修改之后已被其他程序改变,未撤销:%s";
constexpr inline char kTextOfferUndoDatabase[] =
    "上次COM数据库修改未完成(程序中途结束).\n其中%u个串口号已修改,是否撤销这些修改?";
constexpr inline char kTextRecoveredDatabase[] =
    "上次COM数据库修改未完成(程序中途结束);其中%u个串口号已修改,可用 /undo 撤销.\n";
constexpr inline char kLogRecoveryDatabase[] = "发现上次未完成的COM数据库修改:共%u个串口号,已修改%u个.";

/* The command line. */
constexpr inline char kTextAnsweredYes[] = "(/yes: 继续)";
constexpr inline char kTextNotAnswered[] = "(未给出/yes: 已停止,未做任何修改)";
constexpr inline char kTextUsageLine[] =
    "用法: Kestrova_X64.EXE /list [/json] | /renumber (/card N | /port N:M | /all) [/start COMn] [/plan seq|hub] "
    "[/up 1,2,.. | /up off] [/down 1,2,.. | /down off] [/category all|usb|pci|other] [/order position|ports] [/yes] "
    "[/preview] | /list /claims [/json] | /release-stale [/yes] [/preview] | /export FILE [/category ...] | "
    "/check FILE [/json] | /apply FILE [/yes] [/preview] | /undo [/yes] | /version | /help\n";
constexpr inline char kTextUsageDetails[] =
    "  /list              列出多串卡和串口(COM名称和号码,位置,号码是否已被分配); /json 输出JSON\n"
    "  /renumber          修改串口号: /card N 第N个多串卡, /port N:M 第N个多串卡的第M个串口, /all 所有多串卡\n"
    "  /start COMn        起始串口号(默认:与窗口相同,所选串口的当前号码)\n"
    "  /plan seq|hub      依次递增,或按Hub位置计算(仅USB;默认Hub下游口1-4,上游口不选)\n"
    "  /up, /down         Hub上游口/下游口:端口列表(如 1,2,3,4)或 off\n"
    "  /category, /order  多串卡类别(默认usb)和排列方式(默认position)\n"
    "  /yes               回答所有问题为继续;没有 /yes 时,需要提问的修改不会进行\n"
    "  /preview           只显示串口号分配,不做任何修改\n"
    "  /list /claims      COM数据库中已分配的串口号及其使用者(多串卡,本机串口,当前不在的设备,无),\n"
    "                     以及有串口使用但未分配的号码; /json 输出JSON\n"
    "  /release-stale     释放无设备使用的已分配串口号(COM1/COM2和当前不在的设备的号码保留)\n"
    "  /export FILE       把多串卡的串口号布局(按物理位置)写入FILE(- 为标准输出);默认所有类别\n"
    "  /check FILE        检查本机是否符合布局(0 相符, 1 不符);/json 输出JSON\n"
    "  /apply FILE        按布局修改串口号,只修改与布局不同的串口(FILE 为 - 时读标准输入)\n"
    "  /dsc               /export, /check, /apply 输出配置资源(DSC)读取的JSON状态\n"
    "  /undo              撤销上次完成的修改(串口号修改或COM数据库修改)\n"
    "  /version           显示版本(如 Kestrova 1.2.0)\n"
    "退出码: 0 完成, 1 有串口修改失败, 2 参数错误, 3 问题被拒绝或未回答, 4 无事可做(无多串卡,未选择),\n"
    "        5 另一个修改正在进行, 6 未能启动64位程序, 7 布局中有多串卡不存在(其余已修改),\n"
    "        8 多串卡在列出后已改变(未做任何修改); /check: 1 布局不符, 2 布局文件无法使用\n";
constexpr inline char kTextVersion[] = "Kestrova %s\n";
constexpr inline char kTextBadArgument[] = "参数错误: %s\n";
constexpr inline char kCliTooMany[] = "参数过多或过长";
constexpr inline char kCliUnknown[] = "未知参数";
constexpr inline char kCliRepeated[] = "重复的参数";
constexpr inline char kCliMissingValue[] = "缺少参数值";
constexpr inline char kCliBadCard[] = "/card 需要多串卡序号 1-64";
constexpr inline char kCliBadPort[] = "/port 需要 多串卡序号:串口序号,如 1:2";
constexpr inline char kCliBadStart[] = "/start 需要 COM1-COM4096";
constexpr inline char kCliBadPlan[] = "/plan 需要 seq 或 hub";
constexpr inline char kCliBadHubPorts[] = "Hub端口需要 1-8 的列表(如 1,2,3,4)或 off";
constexpr inline char kCliBadCategory[] = "/category 需要 all, usb, pci 或 other";
constexpr inline char kCliBadOrder[] = "/order 需要 position 或 ports";
constexpr inline char kCliNoCommand[] =
    "需要 /list, /renumber, /preview, /undo, /release-stale, /export, /check, /apply, /version 或 /help 之一";
constexpr inline char kCliVersionAlone[] = "/version 不带其他参数";
constexpr inline char kCliJsonOnlyList[] = "/json 只用于 /list 和 /check";
constexpr inline char kCliClaimsOnlyList[] = "/claims 只用于 /list";
constexpr inline char kCliPreviewOnlyRenumber[] = "/preview 只用于 /renumber, /apply 和 /release-stale";
constexpr inline char kCliYesOnly[] = "/yes 只用于 /renumber, /apply, /undo 和 /release-stale";
constexpr inline char kCliNotForUndo[] =
    "/category 只用于 /list, /renumber 和 /export; /order 只用于 /list 和 /renumber";
constexpr inline char kCliDscOnlyLayouts[] = "/dsc 只用于 /export, /check 和 /apply";
constexpr inline char kCliJsonOrDsc[] = "/check 带 /json 或 /dsc 之一";
constexpr inline char kCliBadLayoutPath[] = "/export, /check, /apply 需要布局文件名, - 为标准输入输出";
constexpr inline char kCliRenumberOnly[] = "/card, /port, /all, /start, /plan, /up, /down 只用于 /renumber";
constexpr inline char kCliNeedScope[] = "/renumber 需要 /card N, /port N:M 或 /all";
constexpr inline char kCliHubPortsHubOnly[] = "/up 和 /down 只用于 /plan hub";
constexpr inline char kCliHubUsbOnly[] = "/plan hub 只用于USB多串卡(/category usb)";
constexpr inline char kTextNoSuchCard[] = "没有第%d个多串卡(共%u个).\n";
constexpr inline char kTextNoSuchPort[] = "第%d个多串卡没有第%d个串口(共%u个).\n";
constexpr inline char kTextNoCards[] = "未找到多串卡.\n";
constexpr inline char kTextPreviewRefused[] = "无法预览:未选择串口或没有起始串口号.\n";
constexpr inline char kTextListClaimed[] = "已分配";
constexpr inline char kTextListFree[] = "未分配";

/* Layouts: the numbering of cards by who they are physically. */
constexpr inline char kLayoutNotJson[] = "布局文件不是JSON(第%llu个字节处出错)";
constexpr inline char kLayoutNotLayout[] = "布局文件不是Kestrova布局(缺少 \"kestrovaLayout\")";
constexpr inline char kLayoutWrongVersion[] = "布局文件的版本 %s 不支持(只支持 1)";
constexpr inline char kLayoutNoCards[] = "布局文件缺少 \"cards\" 列表";
constexpr inline char kLayoutTooManyCards[] = "布局文件的多串卡多于64个";
constexpr inline char kLayoutBadField[] = "布局文件第%u个多串卡的 \"%s\" 无效或缺少";
constexpr inline char kLayoutBadPort[] =
    "布局文件第%u个多串卡的第%u个串口项无效(\"port\" 应为 1-64, \"number\" 应为 1-65535)";
constexpr inline char kLayoutRepeatedPort[] = "布局文件第%u个多串卡的 P%u 出现了不止一次";
constexpr inline char kLayoutRepeatedNumber[] = "布局文件中 COM%u 出现了不止一次(第%u个多串卡 P%u, 第%u个多串卡 P%u)";
constexpr inline char kLayoutTwins[] = "第%u个和第%u个多串卡的标识相同(%s, 位置 %s),布局无法区分它们";
constexpr inline char kLayoutCardTwice[] = "布局文件第%u个和第%u个多串卡是同一个多串卡(%s, 位置 %s)";
constexpr inline char kLayoutNoSuchPort[] = "布局文件第%u个多串卡(%s, 位置 %s)只有%u个串口,没有 P%u";
constexpr inline char kLayoutNotWritten[] = "布局无法写成JSON";
constexpr inline char kLayoutFileUnread[] = "布局文件 %s 无法读取";
constexpr inline char kLayoutFileTooBig[] = "布局文件 %s 太大";
constexpr inline char kLayoutFileUnwritten[] = "布局文件 %s 无法写入";
constexpr inline char kTextLayoutRefused[] = "布局无法使用: %s.\n";
constexpr inline char kCheckMatches[] = "布局相符: 布局中的%u个多串卡的%u个串口都是布局中的串口号.\n";
constexpr inline char kCheckDiffers[] =
    "布局不符: %u个串口的串口号与布局不同, %u个多串卡不存在(布局中共%u个多串卡, 存在的多串卡有%u个串口在布局中).\n";
constexpr inline char kCheckDifferenceLine[] = "  %u#(%s, 位置 %s) P%u: 现为 %s, 布局为 COM%u\n";
constexpr inline char kCheckMissingLine[] = "  不存在: %s, 位置 %s (%s)\n";
constexpr inline char kLogApplyStart[] = "按布局修改串口号: %u个多串卡中有%u个串口的串口号与布局不同.\n";
constexpr inline char kLogLayoutCardMissing[] = "布局中的多串卡不存在: %s, 位置 %s.";
constexpr inline char kTextLayoutHeld[] = "本机已是布局中的串口号,无需修改,未做任何修改.";
constexpr inline char kStepCardOff[] = "第%u个多串卡已停用.\n";
constexpr inline char kStepCardRenamed[] = "第%u个多串卡: %u个串口已修改.\n";
constexpr inline char kStepCardOn[] = "第%u个多串卡已启用.\n";
constexpr inline char kLogLayoutExported[] = "串口号布局已导出到 %s.";
constexpr inline char kTextAskApplyLayout[] = "按布局文件修改%u个串口的串口号(见日志中的预览),是否继续?";
constexpr inline char kTextLayoutCardsMissing[] = "布局中有%u个多串卡不存在,未修改它们的串口.";

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
