#pragma once
// An output of torva-host (the CSV, the log) written so that nothing is lost or cut silently.
//
// - Text goes out in whole lines: lines collect in memory and are written together. When a write
//   fails (a full disk, a file-size limit, a pipe whose reader left), the file is cut back to the
//   last whole line, the failure is kept with the file's name and the system's reason, and
//   everything after it is dropped; the stream then reports failure (badbit). A binary output
//   (kRecords) is cut in the same way at the end of its last whole record, which the writer marks
//   with EndRecord, and may rewrite bytes it has already written (a header completed at the end).
// - A named output is written to a temporary file beside it (kReplaceWhenKept). Keep renames it
//   over the name; an output that is not kept is removed, so a run that produced nothing leaves an
//   older file of that name as it was. A log, which should be readable while the program runs, is
//   written in place instead (kInPlace).
// - Only a regular file (or a name not yet taken) is written: a FIFO, a device or a folder is
//   refused when opening, which therefore never blocks. A symbolic link is followed to the file it
//   names.
// - Without a name the output is standard output, written the same way but without the temporary
//   file. The program must ignore SIGPIPE for a reader that left to show as a failure.
//
// Threads: one at a time (the owner serialises writers). Life cycle: Open, write, Keep (or not).

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace torva::host {

class OutputFile {
 public:
  enum class Placement { kReplaceWhenKept, kInPlace };
  enum class Units { kLines, kRecords };

  // Opens the output named `path` (empty: standard output); null, with `error` saying why, when it
  // cannot be written.
  static std::unique_ptr<OutputFile> Open(const std::string& path, std::string& error,
                                          Placement placement = Placement::kReplaceWhenKept,
                                          Units units = Units::kLines);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  std::ostream& Stream() { return stream_; }
  // The output's name as the user gave it ("standard output" without one).
  const std::string& Name() const { return name_; }
  // Writes the whole lines (records) collected so far; false once the output has failed.
  bool Flush();
  // kRecords: what was written to the stream so far ends a whole record.
  void EndRecord();
  // Writes `bytes` over the file at `offset`, inside what has been written already (Flush first),
  // also after a failure; false, with the failure kept, when it cannot.
  bool WriteAt(long long offset, const std::vector<std::uint8_t>& bytes);
  // Bytes in the file so far.
  long long Written() const { return written_; }
  // "FILE: reason" once a write has failed.
  const std::optional<std::string>& Failure() const { return failure_; }
  // Writes what is left and puts the file in place under its name (whole lines only, also after a
  // failure). False when the output failed at any time or cannot be put in place.
  bool Keep();

 private:
  class LineBuffer : public std::streambuf {
   public:
    explicit LineBuffer(OutputFile& owner) : owner_(owner) {}

   protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* text, std::streamsize count) override;
    int sync() override { return owner_.Flush() ? 0 : -1; }

   private:
    OutputFile& owner_;
  };

  OutputFile(int fd, std::string name, std::string target, std::string temporary, Units units);
  // Writes `pending_` up to the end of its last whole line (record); on a failure cuts the file
  // back to the last whole one and records why.
  bool WriteWholeLines();
  // The end of the last whole line (record) in the first `limit` bytes of `pending_`, 0 if none.
  std::size_t WholeUpTo(std::size_t limit) const;
  void Fail(int error);

  const Units units_;
  int fd_;
  bool ownsFd_;                  // closed by Keep or the destructor (not standard output)
  const bool regular_;           // a file of its own, which can be cut back (not standard output)
  const std::string name_;       // as the user gave it, for messages
  const std::string target_;     // where Keep puts the file (empty: standard output)
  std::string temporary_;        // the file being written until Keep (empty: none)
  std::string pending_;          // text not yet written
  std::vector<std::size_t> recordEnds_;  // kRecords: ends of whole records in `pending_`
  long long written_ = 0;        // bytes of whole lines in the file
  std::optional<std::string> failure_;
  LineBuffer buffer_{*this};
  std::ostream stream_{&buffer_};
};

}  // namespace torva::host
