// Kept readable as UTF-8 here; the build stores these literals as GBK.
#include "console/messages.h"

// The unit suite compiles this table once more, under another name, as written.
#ifndef VORKEL_CATALOGUE_NAME
#define VORKEL_CATALOGUE_NAME MessageCatalogue
#endif

extern const char* const VORKEL_CATALOGUE_NAME[MessageCount];
const char* const VORKEL_CATALOGUE_NAME[MessageCount] = {
    /* MsgBannerRule */ "================================================",
    /* MsgBannerTitle */ "          Win32/Vorkelbraith.C专杀工具                 ",
    /* MsgBannerAuthor */ "          作者：Quenlathorix                  ",
    /* MsgEnvHeading */ "\n【运行环境检测】",
    /* MsgRoleLabel */ "运行权限：",
    /* MsgRoleAdmin */ "管理员（√）",
    /* MsgRoleUser */ "普通用户（×）",
    /* MsgRootLabel */ "系统根目录：",
    /* MsgRootUnavailable */ "获取失败",
    /* MsgNoticeHeading */ "\n【安全提示】",
    /* MsgNotice1 */ "1. 请确保关闭其他杀毒软件，避免冲突导致查杀失败！",
    /* MsgNotice2 */ "2. 操作前建议备份重要数据，本工具仅用于应急处理！",
    /* MsgAskStart */ "\n是否确认开始查杀？(y/n)：",
    /* MsgUserCancelled */ "用户取消操作，程序退出！",
    /* MsgNeedAdmin */ "\n错误：请以管理员身份运行本工具！",
    /* MsgScanStart */ "\n---------- 开始检查 ----------",
    /* MsgProgressHead */ "\r查杀进度：检查第",
    /* MsgProgressTail */ "项",
    /* MsgDangerHead */ "\n[危险任务] 文件路径=",
    /* MsgFieldRegistry */ "  注册表=",
    /* MsgFieldExecute */ "  Execute=",
    /* MsgFieldArg */ "  Arg=",
    /* MsgScanDone */ "\n查杀进度：完成 ",
    /* MsgNewline */ "\n",
    /* MsgDangerTag */ "[危险任务]",
    /* MsgAskDeleteAll */ "\n是否确认删除危险项？(y/n)：",
    /* MsgRegistryStep */ "删除注册表项目:",
    /* MsgOpenKeyError */ "未知错误:",
    /* MsgRegistryAbort */ "  退出注册表删除处理",
    /* MsgTreeKeyFound */ "获取到计划任务注册表路径:  HKEY_LOCAL_MACHINE\\",
    /* MsgTasksKeyFound */ "获取计划任务注册表路径id:  HKEY_LOCAL_MACHINE\\",
    /* MsgAskDeleteKeys */ "\n是否确认删除对应注册表项？(y/n)：",
    /* MsgKeysKept */ "用户取消删除注册表！",
    /* MsgDeletedPrefix */ "删除:  ",
    /* MsgOk */ " 成功",
    /* MsgKeyFailed */ "失败",
    /* MsgFileFailed */ " 失败",
    /* MsgAskDeleteExeHead */ "\n是否确认删除对应可执行程序--",
    /* MsgAskDeleteExeTail */ " ?(y/n)：",
    /* MsgExeKept */ "用户取消删除对应可执行程序！",
    /* MsgExeDeletedPrefix */ "删除可执行文件:",
    /* MsgAllDone */ "\n\n查杀完成！",
    /* MsgFileScheduled */ " 失败，文件正在使用，已安排在重启后删除",
    /* MsgRestartNeeded */ "请重新启动计算机以完成清除！",
    /* MsgScanCannotStart */ "\n错误：无法获取系统目录，无法开始查杀！",
};
