// The process's exit statuses; main decides which.
#ifndef VORKEL_APP_EXIT_STATUS_H_
#define VORKEL_APP_EXIT_STATUS_H_

const int ExitDone = 0;  // the run ended, whatever the user answered
const int ExitNotAdministrator = 1;
const int ExitScanCannotStart = 2;  // the system would not give its folder: nothing scanned

#endif  // VORKEL_APP_EXIT_STATUS_H_
