// Texts for the reasons a frame could not be opened or read.
#include "core/read_failure.h"

const char* read_failure_text(ReadFailure failure) {
    switch (failure) {
        case kReadOk:
            return "read";
        case kFailNoSuchFile:
            return "no such file";
        case kFailNotRegularFile:
            return "not a regular file";
        case kFailAccessDenied:
            return "permission denied";
        case kFailCannotOpen:
            return "cannot be opened";
        case kFailNotBigEndianDpx:
            return "not a big-endian DPX file";
        case kFailHeaderCut:
            return "DPX header cut short";
        case kFailSizeOutOfRange:
            return "size out of range (1x1 to 7680x4320)";
        case kFailDataOffset:
            return "image data offset outside the file";
        case kFailDescriptor:
            return "layout not supported: YCbCr or other non-RGB descriptor";
        case kFailBitSize:
            return "layout not supported: bit size other than 8, 10, 12 or 16 (e.g. floating "
                   "point)";
        case kFailPacking:
            return "layout not supported: unknown packing";
        case kFailEncoded:
            return "layout not supported: run-length encoded";
        case kFailSigned:
            return "layout not supported: signed samples";
        case kFailMixedElements:
            return "layout not supported: image elements of different layouts";
        case kFailElementCount:
            return "layout not supported: image element count out of range (1 to 8)";
        case kFailRowSize:
            return "layout not supported: row or image data size out of range";
        case kFailPlanarName:
            return "no 4K/8K-style size tag before the plane letter";
        case kFailMissingPlane:
            return "missing plane";
        case kFailNoMatch:
            return "no file matches the name";
        case kFailNameTooLong:
            return "frame name too long for the path";
        case kFailFrameOutOfRange:
            return "frame number out of range";
        case kFailNoDisplay:
            return "no display memory to read into";
        case kFailSizeChanging:
            return "frame size changed while it was read";
    }
    return "unknown failure";
}

FileHandle open_frame_file(const char* path, ReadFailure* why) {
    FileOpenFailure failure = kOpenFailed;
    const FileHandle file = file_open_read(path, &failure);
    if (file != kNoFile) return file;
    switch (failure) {
        case kOpenNoSuchFile:
            fail_with(why, kFailNoSuchFile);
            break;
        case kOpenNotRegularFile:
            fail_with(why, kFailNotRegularFile);
            break;
        case kOpenDenied:
            fail_with(why, kFailAccessDenied);
            break;
        case kOpenFailed:
            fail_with(why, kFailCannotOpen);
            break;
    }
    return kNoFile;
}
