#include "readers/file_scan.h"

namespace taskclient {

FileScan ScanFile(Platform& platform, File* file, PieceReader* reader) {
  char piece[kReadPieceCapacity];
  for (;;) {
    const long got = platform.ReadFile(file, piece, sizeof piece);
    if (got < 0) return kScanFailed;
    if (got == 0) return kScanEnded;
    if (!reader->TakePiece(piece, static_cast<size_t>(got))) return kScanStopped;
  }
}

}  // namespace taskclient
