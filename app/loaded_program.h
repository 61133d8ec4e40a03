// The program the Load button last loaded, as the table shows it and the run executes it.
#pragma once

#include "gcode/program.h"

#include <QString>
#include <cstdint>
#include <memory>

namespace app {

struct LoadedProgram {
    std::shared_ptr<const gcode::Program> program; // null before a load and after a cancel
    int LineCount = 0;                             // rows of the loaded program
    int TempLineCount = 0;                         // lines the filter pass kept in temp.txt
    // 0 until a load's preview pass is done: only then does Run drive the board.
    int PreviewDone = 0;
    QString GcodeFile;
    // The loaded file's size and content hash: a resume after a crash holds them against the
    // file as it is then.
    std::uint64_t fileBytes = 0;
    std::uint64_t contentHash = 0;
    // The operator has been asked, and agreed, to run a program whose skipped moves (G28, G30,
    // G53) the machine will not make; asked once a load.
    bool SkippedMovesAgreed = false;
};

} // namespace app
