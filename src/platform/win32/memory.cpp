// Memory services on Windows: token privilege, VirtualAlloc large pages,
// _aligned_malloc blocks, GlobalMemoryStatusEx.
#include "platform/memory.hpp"
#include "platform/memory_ledger.hpp"
#include "platform/memory_os.hpp"

#include "platform/win32/windows.hpp"

#include <malloc.h>

namespace velto {

namespace {

std::size_t enable_large_pages_once() {
  // The results are ignored on purpose: without the right to lock pages the
  // privilege stays off and large-page allocations fail later, which the
  // field storage reports.
  win32::ScopedHandle token;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.out())) {
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    if (LookupPrivilegeValueA(nullptr, "SeLockMemoryPrivilege", &privileges.Privileges[0].Luid)) {
      privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
      AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
  }
  return GetLargePageMinimum();
}

} // namespace

std::size_t init_large_pages() {
  static const std::size_t page_size = enable_large_pages_once();
  return page_size;
}

namespace {

void* virtual_alloc_large(std::size_t rounded) {
  return VirtualAlloc(nullptr, rounded, MEM_COMMIT | MEM_RESERVE | MEM_LARGE_PAGES, PAGE_READWRITE);
}

void virtual_free(void* block) {
  VirtualFree(block, 0, MEM_RELEASE);
}

} // namespace

// Large pages are charged to the ledger like alloc_aligned's blocks: Wine on
// Linux overcommits like the Linux heap, and on Windows a commit beyond the
// physical memory only pages the fields out to the pagefile in the middle of
// a run.
void* alloc_large_pages(std::size_t size) {
  const std::size_t rounded = round_up_to_page(size, init_large_pages());
  if (rounded == 0) {
    return nullptr;
  }
  return charged_allocation(process_memory_ledger(), rounded, virtual_alloc_large, virtual_free);
}

void free_large_pages(void* block) {
  init_large_pages();
  charged_release(process_memory_ledger(), block, virtual_free);
}

void* os_alloc_aligned(std::size_t size) {
  return _aligned_malloc(size, 64);
}

void os_free_aligned(void* block) {
  _aligned_free(block);
}

std::uint64_t available_physical_memory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  if (!GlobalMemoryStatusEx(&status)) {
    return 0;
  }
  return status.ullAvailPhys;
}

} // namespace velto
