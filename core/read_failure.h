// Why a frame could not be opened or read. The readers and the loader record it;
// opening a sequence turns it into the one line the viewer writes on standard
// error next to its error box.
#pragma once

#include "platform/platform.h"

enum ReadFailure {
    kReadOk = 0,
    kFailNoSuchFile,
    kFailNotRegularFile,
    kFailAccessDenied,
    kFailCannotOpen,
    kFailNotBigEndianDpx,
    kFailHeaderCut,
    kFailSizeOutOfRange,
    kFailDataOffset,
    kFailDescriptor,
    kFailBitSize,
    kFailPacking,
    kFailEncoded,
    kFailSigned,
    kFailMixedElements,
    kFailElementCount,
    kFailRowSize,
    kFailPlanarName,
    kFailMissingPlane,
    kFailNoMatch,
    kFailNameTooLong,
    kFailFrameOutOfRange,
    kFailNoDisplay,
    kFailSizeChanging,
};

/// The reason as the viewer writes it: "no such file", "layout not supported:
/// YCbCr or other non-RGB descriptor", ...
const char* read_failure_text(ReadFailure failure);

/// Records `failure` in *why when `why` is given; returns -1 for the caller to
/// return.
inline int fail_with(ReadFailure* why, ReadFailure failure) {
    if (why) *why = failure;
    return -1;
}

/// Opens a frame's file for reading; when it cannot, records why in *why.
FileHandle open_frame_file(const char* path, ReadFailure* why);
