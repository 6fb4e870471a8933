#include "catalog/line_file.h"

#include "util/strings.h"

namespace {

constexpr uint8_t kCr = '\r';
constexpr uint8_t kLf = '\n';
constexpr uint8_t kByteOrderMark[3] = {0xEF, 0xBB, 0xBF};

// Index of the first line end among count bytes, or -1; *next is set past the line end.
// CR LF counts as one line end only when both bytes are among the bytes given.
int32_t FindLineEnd(const uint8_t* bytes, int32_t count, int32_t* next) {
  for (int32_t i = 0; i < count; ++i) {
    if (bytes[i] == kLf) {
      *next = i + 1;
      return i;
    }
    if (bytes[i] == kCr) {
      *next = (i + 1 < count && bytes[i + 1] == kLf) ? i + 2 : i + 1;
      return i;
    }
  }
  return -1;
}

HeapString Decode(const uint8_t* bytes, int32_t count, bool utf8) {
  const UINT codePage = utf8 ? CP_UTF8 : CP_OEMCP;
  const char* text = reinterpret_cast<const char*>(bytes);
  const int units = count > 0 ? MultiByteToWideChar(codePage, 0, text, count, nullptr, 0) : 0;
  // A text that cannot be converted must not come out as an empty line, which reads as
  // a section header.
  if (count > 0 && units <= 0) return HeapString();
  HeapString line = NewString(units + 1);
  if (line && units > 0) MultiByteToWideChar(codePage, 0, text, count, line.get(), units);
  return line;
}

}  // namespace

bool LineReader::Open(const wchar_t* path) {
  Close();
  if (!path) return false;
  file.reset(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  buffer.reset(LocalAlloc(LPTR, SIZE_T(capacity)));
  if (!buffer) {
    Close();
    return false;
  }
  position = 0;
  filled = 0;
  failed = false;
  Fill();
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer.get());
  utf8 = filled >= 3 && bytes[0] == kByteOrderMark[0] && bytes[1] == kByteOrderMark[1] &&
         bytes[2] == kByteOrderMark[2];
  if (utf8) position = 3;
  return true;
}

void LineReader::Close() {
  file.reset();
  buffer.reset();
  position = 0;
  filled = 0;
}

// Moves the unread bytes to the start of the buffer and tops it up from the file. Reads
// until the buffer is full or the file yields nothing, so a buffer that is not full
// after a fill holds the whole rest of the file.
bool LineReader::Fill() {
  uint8_t* bytes = static_cast<uint8_t*>(buffer.get());
  if (!bytes) return false;
  if (position > 0 && filled > position) MoveMemory(bytes, bytes + position, SIZE_T(filled - position));
  filled -= position;
  position = 0;
  while (filled < capacity && file) {
    DWORD got = 0;
    if (!ReadFile(file.get(), bytes + filled, DWORD(capacity - filled), &got, nullptr)) {
      failed = true;
      file.reset();
      break;
    }
    if (got == 0) break;
    filled += int32_t(got);
  }
  return filled > position;
}

HeapString LineReader::ReadLine() {
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer.get());
  for (;;) {
    if (!Fill()) return HeapString();
    int32_t next = 0;
    const int32_t end = FindLineEnd(bytes, filled, &next);
    if (end < 0 && filled < capacity) {
      // The file ends without a line end; hand-edited lists often lack the last one.
      position = filled;
      HeapString line = Decode(bytes, filled, utf8);
      if (!line) failed = true;
      return line;
    }
    if (end < 0) {
      // No line end in a full buffer: the line does not fit and is dropped whole, so
      // that no tail of it can pass for a record of its own.
      position = filled;
      if (!DropRestOfLine()) return HeapString();
      continue;
    }
    HeapString line = Decode(bytes, end, utf8);
    position = next;
    if (bytes[end] == kCr && end == filled - 1 && LfFollowsAcrossFill()) {
      // 511 bytes of text with CR LF need 513 bytes: this line did not fit either.
      continue;
    }
    if (!line) failed = true;
    return line;
  }
}

// Called with the whole buffer consumed inside an overlong line: reads on up to and
// including its line end. False when the file ends first.
bool LineReader::DropRestOfLine() {
  const uint8_t* bytes = static_cast<const uint8_t*>(buffer.get());
  for (;;) {
    if (!Fill()) return false;
    int32_t next = 0;
    const int32_t end = FindLineEnd(bytes, filled, &next);
    position = end < 0 ? filled : next;
    if (end < 0) continue;
    if (bytes[end] == kCr && end == filled - 1) LfFollowsAcrossFill();
    return true;
  }
}

// After a CR that was the last valid byte: consumes an LF that the next fill brings,
// the second half of a CR LF that the buffer could not hold at once.
bool LineReader::LfFollowsAcrossFill() {
  if (!Fill() || static_cast<const uint8_t*>(buffer.get())[0] != kLf) return false;
  position = 1;
  return true;
}

bool LineWriter::Open(const wchar_t* path) {
  Close();
  if (!path) return false;
  file.reset(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                         nullptr));
  if (!file) return false;
  DWORD written = 0;
  return WriteFile(file.get(), kByteOrderMark, sizeof(kByteOrderMark), &written, nullptr) &&
         written == sizeof(kByteOrderMark);
}

bool LineWriter::WriteLine(const wchar_t* text) {
  if (!file || !text) return false;
  const int32_t units = TextLength(text);
  const int bytes =
      units > 0 ? WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr) : 0;
  // A longer line would be written whole and then dropped by every reader of the file.
  if ((units > 0 && bytes <= 0) || bytes + 2 > LineReader::kCapacity) return false;
  LocalBlock block(LocalAlloc(LPTR, SIZE_T(bytes) + 2));
  if (!block) return false;
  char* out = static_cast<char*>(block.get());
  if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, units, out, bytes, nullptr, nullptr);
  out[bytes] = '\r';
  out[bytes + 1] = '\n';
  // One write per line: a line is either in the file whole or reported as not written.
  DWORD written = 0;
  return WriteFile(file.get(), out, DWORD(bytes) + 2, &written, nullptr) &&
         written == DWORD(bytes) + 2;
}

void LineWriter::Close() { file.reset(); }
