// The line-oriented text files of the update catalogue (the update list and the update
// information): read line by line, written in UTF-8 with CR LF.
#pragma once

#include <cstdint>

#include "util/owners.h"

// Reads a file line by line. A file that begins with EF BB BF is UTF-8 after those
// three bytes; any other file (also one shorter than three bytes) is text in the OEM
// code page. Line ends are CR LF, a lone LF or a lone CR.
//
// A line must fit the 512-byte buffer together with its line end (at most 510 bytes
// before CR LF, 511 before a lone LF or CR). A longer line is dropped whole, up to and
// including its line end, and never handed out in pieces that could read as records.
// Text after the last line end is handed out as a last line.
//
// A reader starts closed; Close is safe on every path and at destruction.
struct LineReader {
  static constexpr int32_t kCapacity = 512;

  UniqueFile file;
  LocalBlock buffer;
  int32_t position = 0;  // first unread byte in the buffer
  int32_t filled = 0;    // valid bytes in the buffer
  int32_t capacity = kCapacity;
  bool utf8 = false;
  // A read from the file failed, or a line's text could not be allocated: what was
  // handed out may not be the whole file, although ReadLine reports its end.
  bool failed = false;

  // Opens an existing file for reading (others may read it, not write it) and looks for
  // the byte-order mark. False when the file cannot be opened or the buffer not had;
  // nothing stays open then.
  bool Open(const wchar_t* path);
  // The next line in UTF-16 without its line end (an empty line gives an empty string);
  // the caller owns it. Null at the end of the file.
  HeapString ReadLine();
  void Close();

 private:
  bool Fill();
  bool DropRestOfLine();
  bool LfFollowsAcrossFill();
};

// Creates a file in UTF-8 with the byte-order mark and writes one line per call. It
// writes only lines that a LineReader reads back: at most 510 bytes of UTF-8 before CR LF.
struct LineWriter {
  UniqueFile file;

  // Creates or truncates the file (no sharing) and writes EF BB BF. True only when both
  // succeeded; when the mark could not be written the file stays open until Close.
  bool Open(const wchar_t* path);
  // Writes text in UTF-8 followed by CR LF with one write. False, and nothing written,
  // when no file is open, the text cannot be converted or is longer than a reader takes
  // (a line read in the OEM code page may grow in UTF-8); false also when the write
  // fails or falls short.
  bool WriteLine(const wchar_t* text);
  void Close();
};
