// Every text the tool shows, by key. The texts are GBK (code page 936) byte
// strings, written to the console as they are.
#ifndef VORKELBRAITH_CONSOLE_MESSAGES_H_
#define VORKELBRAITH_CONSOLE_MESSAGES_H_

enum MessageKey {
  MsgBannerRule,
  MsgBannerTitle,
  MsgBannerAuthor,
  MsgEnvHeading,
  MsgRoleLabel,
  MsgRoleAdmin,
  MsgRoleUser,
  MsgRootLabel,
  MsgRootUnavailable,
  MsgNoticeHeading,
  MsgNotice1,
  MsgNotice2,
  MsgAskStart,
  MsgUserCancelled,
  MsgNeedAdmin,
  MsgScanStart,
  MsgProgressHead,
  MsgProgressTail,
  MsgDangerHead,
  MsgFieldRegistry,
  MsgFieldExecute,
  MsgFieldArg,
  MsgScanDone,
  MsgNewline,
  MsgDangerTag,
  MsgAskDeleteAll,
  MsgRegistryStep,
  MsgOpenKeyError,
  MsgRegistryAbort,
  MsgTreeKeyFound,
  MsgTasksKeyFound,
  MsgAskDeleteKeys,
  MsgKeysKept,
  MsgDeletedPrefix,
  MsgOk,
  MsgKeyFailed,
  MsgFileFailed,
  MsgAskDeleteExeHead,
  MsgAskDeleteExeTail,
  MsgExeKept,
  MsgExeDeletedPrefix,
  MsgAllDone,
  MsgFileScheduled,
  MsgRestartNeeded,
  MsgScanCannotStart,
  MsgPressAnyKey,
  MsgStopProcessPrefix,
  MsgProcessIdLabel,
  MsgOtherName,
  MsgOtherNamesUnlisted,
  MessageCount
};

extern const char* const MessageCatalogue[MessageCount];

#endif  // VORKELBRAITH_CONSOLE_MESSAGES_H_
