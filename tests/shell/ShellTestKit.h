#pragma once
#include "support/ShellTestKit.h" // moved to the test kit

namespace shelltest {
// The shell tests' former simulator: Stop() gave the frames it received.
struct TSim : TSimProcess {
    explicit TSim(int com, const QStringList& extra = {}) : TSimProcess(extra, com) {}
    QStringList Stop() {
        TSimProcess::Stop();
        return Frames();
    }
};
} // namespace shelltest
