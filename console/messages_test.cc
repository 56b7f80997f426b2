#include "console/messages.h"

#include <stdio.h>

#include <string>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace {

// What every message must say, typed afresh as UTF-8 (u8 literals are not
// touched by -fexec-charset); the catalogue must hold these texts in GBK.
const struct {
  MessageKey key;
  const char* utf8;
} Expected[] = {
    {MsgBannerRule, u8"================================================"},
    {MsgBannerTitle, u8"          Win32/Vorkelbraith.C专杀工具                 "},
    {MsgBannerAuthor, u8"          作者：Quenlathorix                  "},
    {MsgEnvHeading, u8"\n【运行环境检测】"},
    {MsgRoleLabel, u8"运行权限："},
    {MsgRoleAdmin, u8"管理员（√）"},
    {MsgRoleUser, u8"普通用户（×）"},
    {MsgRootLabel, u8"系统根目录："},
    {MsgRootUnavailable, u8"获取失败"},
    {MsgNoticeHeading, u8"\n【安全提示】"},
    {MsgNotice1, u8"1. 请确保关闭其他杀毒软件，避免冲突导致查杀失败！"},
    {MsgNotice2, u8"2. 操作前建议备份重要数据，本工具仅用于应急处理！"},
    {MsgAskStart, u8"\n是否确认开始查杀？(y/n)："},
    {MsgUserCancelled, u8"用户取消操作，程序退出！"},
    {MsgNeedAdmin, u8"\n错误：请以管理员身份运行本工具！"},
    {MsgScanStart, u8"\n---------- 开始检查 ----------"},
    {MsgProgressHead, u8"\r查杀进度：检查第"},
    {MsgProgressTail, u8"项"},
    {MsgDangerHead, u8"\n[危险任务] 文件路径="},
    {MsgFieldRegistry, u8"  注册表="},
    {MsgFieldExecute, u8"  Execute="},
    {MsgFieldArg, u8"  Arg="},
    {MsgScanDone, u8"\n查杀进度：完成 "},
    {MsgNewline, u8"\n"},
    {MsgDangerTag, u8"[危险任务]"},
    {MsgAskDeleteAll, u8"\n是否确认删除危险项？(y/n)："},
    {MsgRegistryStep, u8"删除注册表项目:"},
    {MsgOpenKeyError, u8"未知错误:"},
    {MsgRegistryAbort, u8"  退出注册表删除处理"},
    {MsgTreeKeyFound, u8"获取到计划任务注册表路径:  HKEY_LOCAL_MACHINE\\"},
    {MsgTasksKeyFound, u8"获取计划任务注册表路径id:  HKEY_LOCAL_MACHINE\\"},
    {MsgAskDeleteKeys, u8"\n是否确认删除对应注册表项？(y/n)："},
    {MsgKeysKept, u8"用户取消删除注册表！"},
    {MsgDeletedPrefix, u8"删除:  "},
    {MsgOk, u8" 成功"},
    {MsgKeyFailed, u8"失败"},
    {MsgFileFailed, u8" 失败"},
    {MsgAskDeleteExeHead, u8"\n是否确认删除对应可执行程序--"},
    {MsgAskDeleteExeTail, u8" ?(y/n)："},
    {MsgExeKept, u8"用户取消删除对应可执行程序！"},
    {MsgExeDeletedPrefix, u8"删除可执行文件:"},
    {MsgAllDone, u8"\n\n查杀完成！"},
    {MsgFileScheduled, u8" 失败，文件正在使用，已安排在重启后删除"},
    {MsgRestartNeeded, u8"请重新启动计算机以完成清除！"},
};
static_assert(sizeof Expected / sizeof Expected[0] == MessageCount,
              "one expected text per message");

/// "<not GBK>" when the text has no GBK form.
std::string toGbk(const std::string& utf8) {
  std::string gbk;
  return convertText(utf8, "GBK", "UTF-8", &gbk) ? gbk : "<not GBK>";
}

std::string hex(const std::string& bytes) {
  std::string text;
  char byte[4];
  for (unsigned char c : bytes) {
    snprintf(byte, sizeof byte, "%02X ", c);
    text += byte;
  }
  return text;
}

TEST(Messages, EveryEntryIsItsTextInGbk) {
  for (size_t i = 0; i < MessageCount; ++i) {
    ASSERT_EQ(static_cast<size_t>(Expected[i].key), i) << "table out of order";
    const std::string want = toGbk(Expected[i].utf8);
    const std::string got = MessageCatalogue[i];
    EXPECT_EQ(hex(got), hex(want)) << "message " << i << ": " << Expected[i].utf8;
  }
}

}  // namespace
