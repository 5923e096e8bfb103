#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

#include "Event.h"

// What each board's run came to: the summary table after a run on several ports, and the
// production record (--record), a CSV file with one line per board and run.
namespace praxon::cli {

struct BoardOutcome {
    enum Result { Ok, Failed, Stopped };
    QString port;
    QString chip;      // "STM32F10x medium-density", "0x4AA" for a chip the table lacks; empty
    QString uniqueId;  // hexadecimal, the bytes in memory order; empty when unknown
    std::optional<uint64_t> serial;
    Result result = Failed;
    double seconds = 0;
    QDateTime finished;  // UTC
};

QString ResultName(BoardOutcome::Result result);  // "ok", "failed", "stopped"

// The table: a heading, then one row per board in the order given.
QString SummaryText(const std::vector<BoardOutcome>& boards);
// The same as one JSON object of kind "summary".
QJsonObject SummaryJson(const std::vector<BoardOutcome>& boards, int exitStatus);

// The record's heading and one board's line (without the line end): time, port, chip, unique
// ID, serial number, file, the file's SHA-256, result. Fields with a comma, a quote or a line
// end are quoted as CSV has it.
QString RecordHeader();
QString RecordLine(const BoardOutcome& board, const QString& file, const QString& sha256);
// Appends the boards' lines, with the heading first when the file is new or empty, under a lock
// file beside it (FILE.lock) so that runs in parallel never mix their lines. False (reported)
// when it cannot be written.
bool AppendRecord(const QString& path, const std::vector<BoardOutcome>& boards, const QString& file,
                  const QString& sha256, EventSink& sink);
// Whether the record can be appended to at path (its folder exists); reported when not.
bool CheckRecordPath(const QString& path, EventSink& sink);
// The SHA-256 of a file's bytes in hexadecimal; empty when it cannot be read.
QString FileSha256(const QString& path);

}  // namespace praxon::cli
