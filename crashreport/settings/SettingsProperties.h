#pragma once
// The crash reporter's named properties with their built-in values, in table order. Each entry is
// X(kind, name, built-in value), kind being Bool, Int, Dword or Text. The groups matter: the
// activation and filter properties belong to the module settings only.

#define ZE_SETTINGS_ACTIVATION(X)                                                                            \
    X(Bool, Enabled, false)                                                                                  \
    X(Bool, NoSettings, true)                                                                                \
    X(Bool, CheckFileCrc, true)                                                                              \
    X(Bool, CheckFreeze, false)                                                                              \
    X(Dword, FreezeTimeout, 60)

#define ZE_SETTINGS_GENERAL(X)                                                                               \
    X(Bool, AutoSave, true)                                                                                  \
    X(Bool, AutoSaveIfNotSent, true)                                                                         \
    X(Bool, AutoSend, false)                                                                                 \
    X(Bool, AutoSendBox, false)                                                                              \
    X(Bool, AutoClip, true)                                                                                  \
    X(Bool, PauseThreads, false)                                                                             \
    X(Bool, PlWaitBox, true)                                                                                 \
    X(Bool, AutoContinue, false)                                                                             \
    X(Int, AutoRestart, 0)                                                                                   \
    X(Int, AutoClose, 0)                                                                                     \
    X(Int, AutoDelay, 60)                                                                                    \
    X(Bool, SendBtnVis, true)                                                                                \
    X(Bool, SaveBtnVis, false)                                                                               \
    X(Bool, PrintBtnVis, false)                                                                              \
    X(Bool, ShowBtnVis, true)                                                                                \
    X(Bool, ContinueBtnVis, true)                                                                            \
    X(Bool, RestartBtnVis, true)                                                                             \
    X(Bool, CloseBtnVis, true)                                                                               \
    X(Int, FocusedBtn, 0)                                                                                    \
    X(Text, SendAssis, "")                                                                                   \
    X(Text, SaveAssis, "")                                                                                   \
    X(Text, PrintAssis, "")                                                                                  \
    X(Bool, AutoShowBugRep, false)                                                                           \
    X(Bool, UglyBtns, false)                                                                                 \
    X(Text, MailAddr, "")                                                                                    \
    X(Bool, SendInBackgr, true)                                                                              \
    X(Bool, MailAsSmtpServer, false)                                                                         \
    X(Bool, MailAsSmtpClient, false)                                                                         \
    X(Bool, UploadViaHttp, false)                                                                            \
    X(Bool, MailViaMapi, true)                                                                               \
    X(Bool, MailViaMailto, true)                                                                             \
    X(Text, SmtpServer, "")                                                                                  \
    X(Int, SmtpPort, 25)                                                                                     \
    X(Text, SmtpAccount, "")                                                                                 \
    X(Text, SmtpPassword, "")                                                                                \
    X(Text, HttpServer, "")                                                                                  \
    X(Int, HttpPort, 80)                                                                                     \
    X(Text, HttpAccount, "")                                                                                 \
    X(Text, HttpPassword, "")                                                                                \
    X(Text, MailFrom, "")                                                                                    \
    X(Text, AddFields, "")                                                                                   \
    X(Bool, AttachBugRep, true)                                                                              \
    X(Bool, AttachBugRepFile, true)                                                                          \
    X(Bool, DelBugRepFile, true)                                                                             \
    X(Text, BugRepSendAs, "bugreport.txt")                                                                   \
    X(Text, BugRepZip, "")                                                                                   \
    X(Int, ScrShotDepth, 0)                                                                                  \
    X(Bool, ScrShotAppOnly, true)                                                                            \
    X(Text, ScrShotSendAs, "screenshot.png")                                                                 \
    X(Text, ScrShotZip, "")                                                                                  \
    X(Text, AddAttachs, "")                                                                                  \
    X(Text, BugRepFile, "bugreport.txt")                                                                     \
    X(Bool, AppendBugReps, true)                                                                             \
    X(Int, BugRepFileSize, 100000)                                                                           \
    X(Bool, NoDupExcepts, true)                                                                              \
    X(Bool, NoDupFreezes, true)                                                                              \
    X(Int, DupExceptDef, 1)                                                                                  \
    X(Int, DupFreezeDef, 2)                                                                                  \
    X(Bool, ListThreads, true)                                                                               \
    X(Bool, CpuRegs, true)                                                                                   \
    X(Bool, StackDump, true)                                                                                 \
    X(Bool, ShowDisAsm, true)                                                                                \
    X(Bool, HideUglyItems, false)                                                                            \
    X(Bool, ShowRelAddrs, true)                                                                              \
    X(Bool, ShowRelLines, true)                                                                              \
    X(Bool, FormatDisAsm, false)                                                                             \
    X(Int, LimitDisAsm, 5)                                                                                   \
    X(Text, Plugins, "modules|processes|hardware")                                                           \
    X(Dword, VersionVar, 0)

#define ZE_SETTINGS_FILTERS(X)                                                                               \
    X(Text, F1Classes, "")                                                                                   \
    X(Bool, F1NoBugRep, false)                                                                               \
    X(Bool, F1NoScrShot, false)                                                                              \
    X(Bool, F1NoHandlers, false)                                                                             \
    X(Bool, F1NoSuspend, false)                                                                              \
    X(Int, F1ShowCfg, 0)                                                                                     \
    X(Text, F1Assis, "")                                                                                     \
    X(Text, F2Classes, "")                                                                                   \
    X(Bool, F2NoBugRep, false)                                                                               \
    X(Bool, F2NoScrShot, false)                                                                              \
    X(Bool, F2NoHandlers, false)                                                                             \
    X(Bool, F2NoSuspend, false)                                                                              \
    X(Int, F2ShowCfg, 0)                                                                                     \
    X(Text, F2Assis, "")                                                                                     \
    X(Bool, GnNoBugRep, false)                                                                               \
    X(Bool, GnNoScrShot, false)                                                                              \
    X(Bool, GnNoHandlers, false)                                                                             \
    X(Bool, GnNoSuspend, false)                                                                              \
    X(Int, GnShowCfg, 0)                                                                                     \
    X(Text, GnAssis, "")

#define ZE_SETTINGS_TEXTS(X)                                                                                 \
    X(Text, TitleBar, "%appname%")                                                                           \
    X(Text, ExceptMsg, "An error occurred in the application.")                                              \
    X(Text, FrozenMsg, "The application seems to be frozen.")                                                \
    X(Text, BitFaultMsg, "The file \"%modname%\" seems to be corrupt!")                                      \
    X(Text, SendBtnTxt, "send bug report")                                                                   \
    X(Text, SaveBtnTxt, "save bug report")                                                                   \
    X(Text, PrintBtnTxt, "print bug report")                                                                 \
    X(Text, ShowBtnTxt, "show bug report")                                                                   \
    X(Text, ContinueBtnTxt, "continue bug report")                                                           \
    X(Text, RestartBtnTxt, "restart bug report")                                                             \
    X(Text, CloseBtnTxt, "close bug report")                                                                 \
    X(Text, OkBtnTxt, "&OK")                                                                                 \
    X(Text, DetailsBtnTxt, "&Details")                                                                       \
    X(Text, PlWaitTitle, "Information")                                                                      \
    X(Text, PlWaitText, "Please wait a moment...")                                                           \
    X(Text, MailSubj, "bug report")                                                                          \
    X(Text, MailBody, "please find the bug report attached")                                                 \
    X(Text, SendBoxTitle, "Sending bug report...")                                                           \
    X(Text, PrepAttMsg, "Prepare attachments...")                                                            \
    X(Text, MxLookMsg, "Searching for mail server...")                                                       \
    X(Text, ConnMsg, "Connecting to server...")                                                              \
    X(Text, AuthMsg, "Authentication...")                                                                    \
    X(Text, SendMailMsg, "Sending mail...")                                                                  \
    X(Text, FieldMsg, "Setting fields...")                                                                   \
    X(Text, SendAttMsg, "Sending attachments...")                                                            \
    X(Text, SendFinalMsg, "Finalizing...")                                                                   \
    X(Text, SendFailMsg, "Sorry, sending the bug report didn't work.")

#define ZE_SETTINGS_ALL(X)                                                                                   \
    ZE_SETTINGS_ACTIVATION(X) ZE_SETTINGS_GENERAL(X) ZE_SETTINGS_FILTERS(X) ZE_SETTINGS_TEXTS(X)
