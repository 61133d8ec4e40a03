// The run's journal on disk: kept up to date while a live run goes, at most a quarter of a
// second behind the board, and read at the next start when the run never finished.
#pragma once

#include "app/settings_fields.h"
#include "device/timeline.h"
#include "motion/planning.h"
#include "motion/run_journal.h"

#include <QString>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace app {

class JournalKeeper {
public:
    // An empty path keeps no journal (tests that do not ask for one, and a home without a
    // state folder).
    JournalKeeper(QString path, device::Timeline& clock) : path_(std::move(path)), clock_(clock) {}
    ~JournalKeeper();

    bool Enabled() const { return !path_.isEmpty(); }
    QString Path() const { return path_; }

    // A live run starts: what holds for the whole run, and where it starts; written at once.
    void Begin(const motion::RunJournal& start);
    // A row goes out, then the board has acknowledged it, leaving the machine there.
    void Sent(std::size_t row);
    void Acknowledged(std::size_t row, std::uint64_t fileLine, const motion::MachineState& machine);
    // Written now if anything is not yet on disk.
    void Flush();
    // The run finished, or stopped where the operator knows it stopped: nothing to resume.
    void Clear();

    // The journal a run left, if any; a file cut short or written by something else is none.
    std::optional<motion::RunJournal> Read() const;

private:
    void changed();
    void write();

    static constexpr std::int64_t EveryMs = 250;

    QString path_;
    device::Timeline& clock_;
    motion::RunJournal journal_;
    bool running_ = false;
    bool dirty_ = false;
    std::int64_t writtenAtMs_ = 0;
    device::Timeline::TimerId timer_ = 0;
};

// The file at `path` and the settings as they are now, to hold against a journal.
motion::ResumeCheck ResumeCheckOf(const QString& path, const SettingsFields& settings);

} // namespace app
