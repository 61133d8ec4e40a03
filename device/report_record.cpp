#include "device/report_record.h"

#include "encoding/motion_report.h"

#include <cerrno>
#include <cstring>

namespace device {

ReportRecordFile::~ReportRecordFile() {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
}

bool ReportRecordFile::Open(const std::string& path, std::string& error) {
    if (file_ != nullptr) {
        std::fclose(file_);
    }
    file_ = std::fopen(path.c_str(), "wb");
    if (file_ == nullptr) {
        error = "cannot write the record file " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ReportRecordFile::Write(const Report& report) {
    if (file_ == nullptr) {
        return false;
    }
    char line[encoding::kReportJsonMaxSize + 1];
    char* end = encoding::WriteReportJson(line, report);
    *end++ = '\n';
    const auto size = static_cast<std::size_t>(end - line);
    return std::fwrite(line, 1, size, file_) == size && std::fflush(file_) == 0;
}

} // namespace device
