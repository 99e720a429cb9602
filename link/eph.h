// The camera link: the whole public interface of the link layer.
//
// The link is a set of plain functions over a link record. Every operation
// returns an int status and reports each failure once, through the record's
// error callback (eph_error):
//
//    0        success
//   -1        failure, reported through error_cb (except where noted)
//   -2        no reply within the time-out
//   positive  a single reply byte from the camera that was not the one
//             expected: 0x11 (17), 0x15 (21, NAK), 0x18 (24), or any other
//
// One operation at a time may run on a record; the link itself has no lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "link/platform/serial_state.h"

// Link error codes. A report of a failed platform call carries the platform's
// last error number instead.
enum {
    EPH_ERR_DATA_TOO_LONG = 10001,
    EPH_ERR_TIMEOUT = 10002,
    EPH_ERR_UNEXPECTED_READ = 10003,
    EPH_ERR_BAD_HEADER = 10004,
    EPH_ERR_BAD_CRC = 10005,
    EPH_ERR_BAD_SPEED = 10006,
    EPH_ERR_NO_MEMORY = 10007,
    EPH_ERR_BAD_ARGS = 10008,
    EPH_ERR_EXCESSIVE_RETRIES = 10009,
};

// Packet types and control bytes on the wire.
enum {
    PKT_CMD = 0x1B,
    PKT_DATA = 0x02,
    PKT_LAST = 0x03,
    PKT_SUB_CMD = 0x43,
    PKT_SUB_SPEED = 0x53,
    EPH_INIT = 0x00,
    EPH_ENQ = 0x05,
    EPH_ACK = 0x06,
    EPH_DC1 = 0x11,
    EPH_NAK = 0x15,
    EPH_CAN = 0x18,
    EPH_EOT = 0xFF,
};

// Largest payload of one written packet, so a packet is at most 32768 bytes.
inline constexpr long EPH_MAX_PKT_PAYLOAD = 32762;
// Payload of one data packet of a transfer.
inline constexpr long EPH_DATA_CHUNK = 2048;

// The five time-outs of a serial port, in milliseconds.
struct eph_commtimeouts {
    std::uint32_t ReadIntervalTimeout;
    std::uint32_t ReadTotalTimeoutMultiplier;
    std::uint32_t ReadTotalTimeoutConstant;
    std::uint32_t WriteTotalTimeoutMultiplier;
    std::uint32_t WriteTotalTimeoutConstant;
};
inline constexpr std::uint32_t EPH_MAXDWORD = 0xFFFFFFFFu;

// A serial port's line settings are eph_dcb, the platform's own record
// (link/platform/serial_state.h).

using eph_error_fn = void (*)(int code, const char* message);
using eph_realloc_fn = void* (*)(void* buffer, std::size_t size);
using eph_progress_fn = void (*)(int bytes_so_far);
using eph_store_fn = int (*)(const unsigned char* data, int length);

struct eph_transport;

// One open camera link.
struct eph_iob {
    eph_error_fn error_cb;            // every error report of the link
    eph_realloc_fn realloc_cb;        // buffers for eph_getvar (null pointer: a new one;
                                      // size 0: release it)
    eph_progress_fn progress_cb;      // progress of multi-packet transfers
    eph_store_fn store_cb;            // chunks of an eph_getvar without a buffer; 0 = stored
    int debug;                        // 0 = quiet
    int port;                         // file descriptor of the serial port; -1 when none
    eph_dcb saved_dcb;                // line settings as found at open, restored at close
    eph_commtimeouts saved_timeouts;  // time-outs as found at open, restored at close
    eph_commtimeouts cur_timeouts;    // the time-outs last given to the port
    int data_timeout;                 // microseconds to wait for each read of a packet's data
    const eph_transport* transport;   // the cable's primitives (eph_transport.h)
    // Set by the link when it took a packet whose length field or checksum
    // did not hold, because its repeat came back byte for byte the same (a
    // camera that may not fill these fields on USB). Whoever cares (a
    // download that would erase) clears it before and looks after.
    int doubtful;
};

// ---------------------------------------------------------------------------
// Link record and error reports

// Creates a record. Null error, allocation and progress callbacks are
// replaced by defaults (do nothing, the standard allocator, do nothing); a
// null store callback stays null. Returns null when memory is exhausted.
// The record owns no buffers; release it with eph_free after eph_close.
eph_iob* eph_new(eph_error_fn error_cb, eph_realloc_fn realloc_cb, eph_progress_fn progress_cb,
                 eph_store_fn store_cb, int debug);
void eph_free(eph_iob* iob);

// Reports one error through the record's error callback: the message is the
// format filled with the arguments (or, without a format, the table text of
// codes 10001..10009, otherwise "System error <code>"), followed by the
// platform's text for the thread's last system error.
void eph_error(eph_iob* iob, int code, const char* format, ...)
    __attribute__((format(printf, 3, 4)));

// "System error <number>" in a buffer of the calling thread, valid until its
// next call.
const char* eph_syserrtext(int number);

// The callbacks with which Tulk creates its own record: the error callback
// writes "Error <code>: <message>" to the debug output and, except for time-
// outs (10002), to standard error; the store callback writes each chunk to
// the stream given with eph_setstorestream (none: the chunk is refused).
void eph_system_error_cb(int code, const char* message);
int eph_system_store_cb(const unsigned char* data, int length);
void eph_setstorestream(std::FILE* stream);

// ---------------------------------------------------------------------------
// Packets and control bytes

// Writes one packet: type, subtype, 16-bit length, payload, 16-bit additive
// checksum. Payloads over 32762 bytes fail with 10001. On the serial line the
// packet goes out in three paced pieces. Returns 0 or -1; no ACK is awaited.
int eph_writepkt(eph_iob* iob, int type, int subtype, const unsigned char* data, long length);
// A command packet (0x1B, 0x43) and a speed command packet (0x1B, 0x53).
int eph_writecmd(eph_iob* iob, const unsigned char* data, long length);
int eph_writespeedcmd(eph_iob* iob, const unsigned char* data, long length);
// Writes bytes on the port; 0 when all went out, 1 otherwise.
int eph_writebytes(int port, const unsigned char* data, int count);
// Each waits 2000 us and writes one control byte; failures are reported only.
void eph_writeinit(eph_iob* iob);
void eph_writeack(eph_iob* iob);
void eph_writenak(eph_iob* iob);

// Reads one packet into buffer (capacity *length bytes). On success *length
// is the payload length and header[0..1] the type and sequence; a single
// byte other than a data packet type is returned as its value. A packet
// longer than the capacity fails with 10001 and nothing is copied.
int eph_readpkt(eph_iob* iob, unsigned char header[2], unsigned char* buffer, long* length,
                long timeout_us);
// Drops at most one waiting byte. 0 or -1.
int eph_flushinput(eph_iob* iob);
// One byte (0..255), -1 or -2.
int eph_waitchar(eph_iob* iob, long timeout_us);
// 0 on ACK; 17, 21, 24 unchanged; any other answer reported and returned.
int eph_waitack(eph_iob* iob, long timeout_us);
// 0 on the completion byte 0x05 within 60 s.
int eph_waitcomplete(eph_iob* iob);
// 0 on the wake-up signature 0x15, after at most 200 zero bytes.
int eph_waitsig(eph_iob* iob);
// 0 on 0xFF within 1 s.
int eph_waiteot(eph_iob* iob);
// Gets the line back in step after an exchange failed: drops whatever the
// camera still sends (the rest of a transfer, repeats) until the line has
// been quiet for longer than a packet takes at its speed (on USB: the pipes
// cleared, then quiet for a moment). 0 when the line went quiet, -1 when the
// cable itself failed or the camera kept sending for more than a minute.
int eph_drain(eph_iob* iob);
// Sleeps the given microseconds without occupying a processor.
void eph_usleep(long microseconds);
// Reads up to count bytes within the time-out (0 = what is waiting). Returns
// the count read or -1; *got_data tells whether any byte came. On the serial
// line an expired time-out is a failure, and no read waits less than 1 s.
int eph_readtimed(eph_iob* iob, unsigned char* buffer, int count, long timeout_us, int* got_data);

// ---------------------------------------------------------------------------
// Register commands. Each repeats a refused or unanswered exchange at most
// three times and reports the third repetition with 10009.

int eph_setint(eph_iob* iob, int reg, std::int32_t value);
int eph_setnullint(eph_iob* iob, int reg);
// *value is 0 unless the camera answered with one.
int eph_getint(eph_iob* iob, int reg, std::int32_t* value);
// At most 2048 argument bytes. Waits for the completion byte.
int eph_action(eph_iob* iob, int reg, const unsigned char* args, long count);
// An action that changes the camera (a capture, an erase), for callers that
// find out themselves whether it happened: the packet is repeated only when
// the camera refused it (NAK, 0x18), never when its answer did not come or
// made no sense, as the camera may have carried it out all the same.
int eph_actiononce(eph_iob* iob, int reg, const unsigned char* args, long count);
int eph_setvar(eph_iob* iob, int reg, const unsigned char* data, long length);
// Reads a data register. With *buffer set, it must come from the record's
// realloc_cb with capacity *length; it may be enlarged and replaced, and on
// success *length holds the bytes received. The buffer belongs to the
// caller, also after a failure. With *buffer null (or buffer null), each
// chunk goes to store_cb.
int eph_getvar(eph_iob* iob, int reg, unsigned char** buffer, long* length);
int eph_setispeed(eph_iob* iob, long code);

// ---------------------------------------------------------------------------
// Opening and closing the link

// Opens the link to the camera on serial port "COM<port>:" at the given
// speed in bits per second (0: 9600), or on the USB device when g_bUseUsb is
// set, and walks the camera's folders. Returns the record, or null (the
// reason is in the activity log and the error reports).
eph_iob* eph_open(int port, long speed);
// Signs off (flag set; Tulk always sets it) and closes the port or the USB
// device, restoring the serial line's settings as found at open. Release
// the record with eph_free afterwards.
void eph_close(eph_iob* iob, int signoff);
// Opens the serial device at 19200 baud, wakes the camera (four attempts),
// switches camera and port to the working speed (0: 9600). The wake-up speed
// is always 19200; a port speed of 0 means the working speed.
int eph_openport(eph_iob* iob, const char* device, long speed, long wakeup_speed, long port_speed);

// The speed code the camera expects for a line speed, and the read time-out
// of a packet's data at that speed.
// The line speeds the camera knows, with their speed codes; a speed's code
// is also its place, from 1, in the Serial Setup list.
struct eph_linespeed {
    long bps;
    long code;
};
inline constexpr eph_linespeed EPH_LINE_SPEEDS[] = {
    {9600, 1}, {19200, 2}, {38400, 3}, {57600, 4}, {115200, 5}};
// The speed of a code (a list place), or the number itself when it is no code.
long eph_speedofcode(long code);
long eph_speedcode(long speed);
int eph_datatimeout(long speed);

// Port names "COM<n>:" stand for devices: the environment variable
// TULK_COM<n> when set, else the mapping installed here (the window installs
// the one from its settings), else /dev/ttyS<n-1>.
void eph_setportmap(const std::map<int, std::string>& devices);
std::string eph_portdevice(int port);

// ---------------------------------------------------------------------------
// The camera's folders

// Set while the open camera keeps its pictures in folders.
extern std::atomic<int> g_bFolders;
// Finds out whether the camera has folders and, if so, leaves it in the
// first folder below the root that holds pictures. 0 or -1.
int eph_initfolders(eph_iob* iob);
using eph_each_fn = int (*)(eph_iob* iob, const char* path);
// Walks the folder tree depth first from path; each folder is handed to
// each, whose first non-zero result ends the walk and is returned.
int descend(eph_iob* iob, int depth, const char* path, eph_each_fn each);
// Changes to an absolute ("\A\B") or relative folder path; "/" may stand
// for "\".
int eph_chdir(eph_iob* iob, const char* path);
// 1 when the folder holds pictures and is not the root, 0 when not, -1 when
// the count cannot be read.
int FolderHasPictures(eph_iob* iob, const char* path);

// ---------------------------------------------------------------------------
// USB

// The link runs over the camera's USB connection instead of a serial port.
// Set before eph_open; it must not change while a link is open.
extern std::atomic<int> g_bUseUsb;
// USB reads run on a reader thread of their own, bounded by their time-out.
extern std::atomic<int> g_bThreadedComms;
// Puts the link's process-wide switches (the cable, threaded reads, the
// folders flag) back to their start values, as a new process has them.
void eph_resetswitches();
// Finds the camera among USB devices 0..99 and opens it. 0 or -1.
int open_usb(eph_iob* iob);
