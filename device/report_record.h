// The record of a virtual board's run: every report it receives as one line, bytes 0 to 11 as a
// JSON array (the dry run's text for a report). Each line is flushed as it is written, so another
// program can follow the run while it goes on.
#pragma once

#include "device/hid_library.h"

#include <cstdio>
#include <string>

namespace device {

// One record file, open from Open until the object goes.
class ReportRecordFile {
public:
    ReportRecordFile() = default;
    ~ReportRecordFile();
    ReportRecordFile(const ReportRecordFile&) = delete;
    ReportRecordFile& operator=(const ReportRecordFile&) = delete;

    // Creates the file or empties an existing one. False with the reason when it cannot.
    bool Open(const std::string& path, std::string& error);
    // False when the line could not be written in full, or no file is open.
    bool Write(const Report& report);

private:
    std::FILE* file_ = nullptr;
};

} // namespace device
