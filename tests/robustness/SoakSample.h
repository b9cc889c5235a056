#pragma once

// What a soak watches of its own process: open descriptors, threads and resident memory, read
// from /proc/self.
#include <dirent.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace quorvex::soak {

// Entries of a /proc/self folder, "." and ".." left out.
inline int EntriesOf(const char* folder) {
  int count = 0;
  if (DIR* dir = ::opendir(folder)) {
    while (const dirent* entry = ::readdir(dir)) {
      if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
  }
  return count;
}

inline int OpenDescriptors() { return EntriesOf("/proc/self/fd") - 1; }  // less opendir's own

inline int Threads() { return EntriesOf("/proc/self/task"); }

// A line of /proc/self/status in kB ("VmRSS:", "RssAnon:"); -1 when it is not there.
inline long StatusKb(const std::string& key) {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
  }
  return -1;
}

inline long ResidentKb() { return StatusKb("VmRSS:"); }

// What the program holds of its heap, free memory the allocator keeps left out; -1 where the
// allocator cannot tell.
inline long HeapInUseKb() {
#if defined(__GLIBC__)
  const struct mallinfo2 info = ::mallinfo2();
  return static_cast<long>((info.uordblks + info.hblkhd) / 1024);
#else
  return -1;
#endif
}

// Hands the free memory the allocator keeps in its arenas back to the system, so that resident
// memory shows what the program holds, not where in which thread's arena a large block last
// landed. Nothing where the allocator cannot.
inline void HandBackFreeMemory() {
#if defined(__GLIBC__)
  ::malloc_trim(0);
#endif
}

struct Sample {
  int descriptors = 0;
  int threads = 0;
  long residentKb = 0;
  long anonymousKb = 0;  // of the resident memory, what is not pages of files (code, libraries)
  long heapKb = 0;
};

inline Sample Take() {
  return {OpenDescriptors(), Threads(), ResidentKb(), StatusKb("RssAnon:"), HeapInUseKb()};
}

inline void Print(const char* when, const Sample& sample) {
  std::printf(
      "%-18s descriptors %3d  threads %3d  VmRSS %6ld kB (anonymous %6ld kB)  heap in use %6ld "
      "kB\n",
      when, sample.descriptors, sample.threads, sample.residentKb, sample.anonymousKb,
      sample.heapKb);
  std::fflush(stdout);
}

}  // namespace quorvex::soak
