#pragma once
// Opening a document or web address the way the user's shell would.
#include <windows.h>

namespace Framework {

// Opens the target with its default program as the logged-in user, not with this process's rights: an
// elevated program that called ShellExecute itself would start the browser elevated too. The request goes
// to the shell's own desktop process; where there is none (no shell running, or one without that
// interface) the target is opened with ShellExecuteW from here. COM is initialised for the call on this
// thread if it was not already. True when one of the two accepted the request.
bool ShellOpenAsUser(LPCWSTR target);

}  // namespace Framework
