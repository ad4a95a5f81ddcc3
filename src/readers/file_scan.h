// Reading a file from its start, one piece at a time, into whatever reads it:
// the one loop the reply reader and the field reader share.
#ifndef TASKCLIENT_READERS_FILE_SCAN_H
#define TASKCLIENT_READERS_FILE_SCAN_H

#include <stddef.h>

#include "platform/platform.h"

namespace taskclient {

// Bytes read from a file at a time.
const size_t kReadPieceCapacity = 4096;

// Takes a file's bytes, in order, one piece at a time.
class PieceReader {
 public:
  // Takes the next `length` bytes (at least one). False once it needs no
  // more of the file.
  virtual bool TakePiece(const char* bytes, size_t length) = 0;
  // No destructor is declared: a reader is never deleted through this class.
};

enum FileScan {
  kScanStopped,  // the reader needed no more
  kScanEnded,    // the file ended first
  kScanFailed    // reading the file failed first
};

// Reads the open `file` from where it stands into `reader`, in pieces of up
// to kReadPieceCapacity bytes, until one of the three FileScan outcomes.
FileScan ScanFile(Platform& platform, File* file, PieceReader* reader);

}  // namespace taskclient

#endif
