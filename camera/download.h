// Fetching one picture from the camera into a file dated with the time the
// camera took it.
#pragma once

#include <string>

#include "link/eph.h"

// Downloads picture number (from 1) into the file at path, which is written
// whole or not at all (a transfer shorter than the picture's announced
// length is not saved), and sets the file's times from the camera's time
// stamp. 0 or -1. A name the folder cannot carry (too long, or bytes its
// file system refuses) gives way to fallbackPath when there is one. *saved
// (when given) gets the path the picture is under, which is another than
// path when a different file already had that name or the name gave way. A
// picture that cannot be written is logged, and the user is told the folder
// and the reason once until a picture is saved or ForgetSaveFailures runs.
int DownloadPicture(eph_iob* iob, const char* path, int number, const char* fallbackPath = nullptr,
                    std::string* saved = nullptr);

// Whether the last picture DownloadPicture saved on this thread came whole
// and checked: every announced byte arrived and every packet's length and
// checksum held (a packet taken on a byte-identical repeat does not count).
// Only such a picture may be erased from the camera.
bool LastDownloadChecked();

// The system error with which the last DownloadPicture on this thread could
// not write its file (a full disk, a folder gone), 0 when it wrote it or
// failed before.
int LastSaveError();

// Starts a new piece of work (a Get All Files, a Get Last, a time lapse):
// its first picture that cannot be written is told to the user again.
void ForgetSaveFailures();

// The transfer buffer for a picture and thumbnail of this many bytes: whole
// packets and one spare, so that the transfer never grows it. A download
// asks for at most that of 1 MiB at first, whatever the camera announces.
long DownloadBufferSize(long length);

// The camera's name for a picture (its bytes up to the first zero byte, at
// most the longest name a folder can carry) as it may be used for a file in
// the save folder: a plain name, else empty (the caller then makes one up).
std::string PlainPictureName(const unsigned char* bytes, long length);

// Finds the APP12 segment in the JPEG bytes *start .. *start + *length. On
// success *start and *length describe the segment's data; otherwise they
// become null and 0 and the result is -1. Never reads outside the bytes.
int FindJpegApp12(const unsigned char** start, long* length);

// In an APP12 text block (a title ended by zero bytes, then "key=value\n"
// lines), the value of the first line that begins with the key, or null.
// The value runs to the line's end or the block's end.
const char* FindKeyValue(const char* key, const char* block, long length);

// The file time that shows, in local time, the wall-clock reading of a
// camera time stamp (seconds of the camera's clock, which has no zone).
// False for a stamp that cannot be broken down (-1 or beyond 2^31 - 1).
bool CameraTimeToLocal(unsigned long stamp, long long* when);
