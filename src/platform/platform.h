// The small operating-system interface every other part of the library uses.
// One implementation per platform: platform_posix.cpp and platform_windows.cpp.
#pragma once

#include <cstddef>
#include <cstdint>

namespace d2u {
namespace platform {

// An opaque file handle; kInvalidFile marks a failed open.
using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

// Opens an existing file for reading, sharing read and write access with other openers.
FileHandle OpenForReading(const char* path);
FileHandle OpenForReadingW(const wchar_t* path);
// Creates (or empties) a file for writing, sharing read access.
FileHandle CreateForWriting(const char* path);
FileHandle CreateForWritingW(const wchar_t* path);
// Reads up to size bytes; returns the count read, 0 at the end or on failure.
size_t Read(FileHandle file, void* data, size_t size);
// Reads up to size bytes from an absolute offset, on any thread, several at once; returns the
// count read. Where the next Read goes on is left undefined: Seek first.
size_t ReadAt(FileHandle file, uint64_t offset, void* data, size_t size);
// Writes size bytes; returns the count written.
size_t Write(FileHandle file, const void* data, size_t size);
// Moves to an absolute 64-bit offset; returns false on failure.
bool Seek(FileHandle file, uint64_t offset);
bool SeekToEnd(FileHandle file);
// Size of an open file in bytes, 0 when unknown.
uint64_t Size(FileHandle file);
void Close(FileHandle file);
bool FileExists(const char* path);

void SleepMilliseconds(unsigned milliseconds);

// Memory for the stream buffer: null when there is none. Blocks of 1 MiB and more are asked to
// be backed by large pages where the system offers them, so that first touches fault once per
// 2 MiB rather than once per 4 KiB. Released with FreeLargeBlock.
void* AllocateLargeBlock(size_t bytes);
void FreeLargeBlock(void* memory);
// Memory straight from the system that reads as zero until it is written, so that callers need
// not clear it. Its pages come at first touch, so that what is never written costs nothing and
// the threads that write a picture's rows fault them in side by side. Where the system offers
// large pages, the 2 MiB spans of the block use them; a block whose end would leave
// most of a last large page empty keeps 4 KiB pages there rather than wasting the rest of it.
// Null when there is none. Released with FreeZeroedMemory and the same byte count.
void* AllocateZeroedMemory(size_t bytes);
void FreeZeroedMemory(void* memory, size_t bytes);
// Milliseconds from an arbitrary fixed point, monotonic.
uint64_t MonotonicMilliseconds();

// Threads of the decoding handles' worker pools.
using ThreadHandle = void*;
// Runs entry(argument) on a new thread: null when no thread could be started.
ThreadHandle StartThread(void (*entry)(void*), void* argument);
// Waits until the thread has returned, and releases it.
void JoinThread(ThreadHandle thread);
// Processors this process may run on, at least 1.
int32_t ProcessorCount();
// Lets another thread that is ready run on this thread's processor.
void YieldThread();
// A lock and a condition that threads wait for under it. Null without memory.
struct Monitor;
Monitor* CreateMonitor();
void DestroyMonitor(Monitor* monitor);
void Lock(Monitor* monitor);
void Unlock(Monitor* monitor);
// Releases the lock until woken (or spuriously), then holds it again.
void Wait(Monitor* monitor);
void WakeAll(Monitor* monitor);

// Optional libraries: null when not found.
using LibraryHandle = void*;
LibraryHandle LoadLibraryByName(const char* name);
void* LookUpEntry(LibraryHandle library, const char* name);
void UnloadLibrary(LibraryHandle library);

// Directory of the library's own module file, with a trailing separator, or "" when unknown.
// Returns the number of characters written (at most capacity - 1).
size_t ModuleDirectory(char* out, size_t capacity);

// File names of the platform.
const char* LogMarkerPath();
const char* DiagnosticsLibraryName();
const char* PackFilterLibraryName();
char PathSeparator();

}  // namespace platform
}  // namespace d2u
