// The meter link as the main window builds it: the window's side of it as plain fields a test
// sets and reads, and dialogs the test answers. A test's rig adds the pages it needs, hands them
// to Link.SetViews and takes them back (SetViews with none) before they go.
#pragma once

#include "link/frmModbus.h"
#include "support/FakeShell.h"
#include "support/ScriptedDialogs.h"

struct TLinkRig {
    TFakeShell Shell;
    TScriptedDialogs Dialogs;
    TFormModbus Link{Shell, Dialogs};
};
