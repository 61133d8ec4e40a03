#include "app/journal_keeper.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <string>

namespace app {

JournalKeeper::~JournalKeeper() {
    if (timer_ != 0) {
        clock_.Cancel(timer_);
    }
    Flush();
}

void JournalKeeper::Begin(const motion::RunJournal& start) {
    if (!Enabled()) {
        return;
    }
    journal_ = start;
    running_ = true;
    QDir().mkpath(QFileInfo(path_).absolutePath());
    write();
}

void JournalKeeper::Sent(std::size_t row) {
    if (running_) {
        journal_.rowInFlight = row;
        changed();
    }
}

void JournalKeeper::Acknowledged(std::size_t row, std::uint64_t fileLine,
                                 const motion::MachineState& machine) {
    if (!running_) {
        return;
    }
    journal_.lastAckedRow = row;
    journal_.lastAckedLine = fileLine;
    journal_.rowInFlight.reset();
    for (const motion::Axis a : motion::kAxes) {
        journal_.positions[motion::index(a)] = machine[a].positionText;
    }
    changed();
}

// Batched: a board that answers at once acknowledges thousands of rows a second, and the
// journal need only ever be a quarter of a second behind.
void JournalKeeper::changed() {
    dirty_ = true;
    const std::int64_t now = clock_.NowMs();
    if (now - writtenAtMs_ >= EveryMs) {
        write();
    } else if (timer_ == 0) {
        timer_ = clock_.CallAt(writtenAtMs_ + EveryMs, [this] {
            timer_ = 0;
            Flush();
        });
    }
}

void JournalKeeper::Flush() {
    if (running_ && dirty_) {
        write();
    }
}

void JournalKeeper::Clear() {
    running_ = false;
    dirty_ = false;
    if (timer_ != 0) {
        clock_.Cancel(timer_);
        timer_ = 0;
    }
    if (Enabled()) {
        QFile::remove(path_);
    }
}

// The whole journal to a new file that takes the old one's place only once it is on the disk:
// a crash in the middle leaves the journal before, never half of one.
void JournalKeeper::write() {
    dirty_ = false;
    writtenAtMs_ = clock_.NowMs();
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly)) {
        return; // no journal this time; the run itself goes on
    }
    const std::string text = motion::JournalText(journal_);
    file.write(text.data(), static_cast<qint64>(text.size()));
    file.commit();
}

std::optional<motion::RunJournal> JournalKeeper::Read() const {
    if (!Enabled()) {
        return std::nullopt;
    }
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    const QByteArray text = file.read(1 << 20);
    return motion::ReadJournal(
        std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
}

motion::ResumeCheck ResumeCheckOf(const QString& path, const SettingsFields& settings) {
    motion::ResumeCheck now;
    const motion::PlanSettings plan = settings.Plan();
    now.pulsesPerMmText = plan.pulsesPerMmText;
    now.inverse = plan.inverse;
    now.arcToleranceMm = plan.arcToleranceMm;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return now;
    }
    motion::ContentHash hash;
    QByteArray chunk(1 << 20, Qt::Uninitialized);
    for (qint64 n; (n = file.read(chunk.data(), chunk.size())) > 0;) {
        hash.Add(std::string_view(chunk.constData(), static_cast<std::size_t>(n)));
    }
    now.fileFound = file.error() == QFileDevice::NoError;
    now.fileBytes = hash.Bytes();
    now.contentHash = hash.Value();
    return now;
}

} // namespace app
