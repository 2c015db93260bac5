// Where the link's connection stands. One value, kept by the link session, so that the main
// window, the dialogs and the pages cannot disagree about it; the shell only hears of changes.
#pragma once

enum class TConnectionState {
    // No port open by a connect (the port may still be opened by the dialog's checks).
    Offline,
    // Connected and polling: commands may be sent.
    Online,
    // A disconnect (or a close that waits for writes) was asked for: the port stays open until
    // the query on the line has ended, and no new command goes out.
    Disconnecting,
};
