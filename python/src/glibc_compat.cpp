// Built into the module only when it is compiled against an older glibc than
// the compiler's own (QUILLSTONE_GLIBC_ROOT: the wheels). The C++ runtime is
// then linked in whole, and it was built against the compiler's glibc: it
// calls a few functions that older ones lack, which stand in here. They stay
// inside the module (its version script exports PyInit_quillstone alone), so
// a newer glibc's own are neither replaced nor hidden elsewhere.

#include <cerrno>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include <link.h>
#include <unistd.h>

namespace {

// The layout of glibc's struct dl_find_object (2.35 on), which older headers
// do not declare. On i386 it carries the base of data-relative pointers.
struct FoundObject {
  unsigned long long flags;
  void* map_start;
  void* map_end;
  struct link_map* link_map;
  void* eh_frame;
#if defined(__i386__)
  void* eh_dbase;
  unsigned int eh_dbase_pad;
#endif
  void* sframe;
#if UINTPTR_MAX == 0xffffffffu
  unsigned int sframe_pad;
#endif
  unsigned long long reserved[6];
};

struct Search {
  std::uintptr_t pc;
  FoundObject* out;
};

// dl_iterate_phdr's callback: fills the result from the object whose loaded
// segments hold the address, and stops there.
int visit_object(dl_phdr_info* info, std::size_t, void* data) noexcept {
  auto* search = static_cast<Search*>(data);
  std::uintptr_t low = UINTPTR_MAX, high = 0;
  bool holds = false;
  const ElfW(Phdr)* eh_frame = nullptr;
  const ElfW(Phdr)* dynamic = nullptr;
  for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type == PT_LOAD) {
      const std::uintptr_t start = info->dlpi_addr + segment.p_vaddr;
      const std::uintptr_t end = start + segment.p_memsz;
      holds = holds || (search->pc >= start && search->pc < end);
      low = start < low ? start : low;
      high = end > high ? end : high;
    } else if (segment.p_type == PT_GNU_EH_FRAME) {
      eh_frame = &segment;
    } else if (segment.p_type == PT_DYNAMIC) {
      dynamic = &segment;
    }
  }
  if (!holds) return 0;
  FoundObject& out = *search->out;
  out = FoundObject{};
  out.map_start = reinterpret_cast<void*>(low);
  out.map_end = reinterpret_cast<void*>(high);
  // The unwinder reads the unwind table (and on i386 the data base) only.
  if (eh_frame != nullptr) out.eh_frame = reinterpret_cast<void*>(info->dlpi_addr + eh_frame->p_vaddr);
#if defined(__i386__)
  // The global offset table; the loader has relocated the dynamic section's
  // addresses in place.
  if (dynamic != nullptr) {
    for (auto* entry = reinterpret_cast<const ElfW(Dyn)*>(info->dlpi_addr + dynamic->p_vaddr);
         entry->d_tag != DT_NULL; ++entry) {
      if (entry->d_tag == DT_PLTGOT) out.eh_dbase = reinterpret_cast<void*>(entry->d_un.d_ptr);
    }
  }
#else
  (void)dynamic;
#endif
  return 1;
}

}  // namespace

extern "C" {

// glibc 2.32: nonzero while the process is known to run one thread. Zero is
// always right: the runtime then uses atomic operations throughout.
char __libc_single_threaded = 0;

// glibc 2.35: the loaded object that holds an address, with its unwind table.
// The unwinder asks for it at every frame of a thrown exception.
int _dl_find_object(void* pc, void* result) {
  Search search{reinterpret_cast<std::uintptr_t>(pc), static_cast<FoundObject*>(result)};
  return dl_iterate_phdr(visit_object, &search) != 0 ? 0 : -1;
}

// glibc 2.36: random bits from the kernel, as std::random_device may ask.
// getentropy (2.25) fills up to 256 bytes and fails only without the system
// call, where glibc's own arc4random ends the process too.
std::uint32_t arc4random() {
  std::uint32_t value;
  if (getentropy(&value, sizeof value) != 0) std::abort();
  return value;
}

// glibc 2.38: strtoul as C23 has it, which also reads a 0b prefix in bases 0
// and 2; otherwise it is the older strtoul.
unsigned long __isoc23_strtoul(const char* text, char** end, int base) {
  const char* p = text;
  while (std::isspace(static_cast<unsigned char>(*p))) ++p;
  const bool negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  if ((base == 0 || base == 2) && p[0] == '0' && (p[1] == 'b' || p[1] == 'B') &&
      (p[2] == '0' || p[2] == '1')) {
    const int saved = errno;
    errno = 0;
    const unsigned long value = std::strtoul(p + 2, end, 2);
    if (errno == ERANGE) return ULONG_MAX;
    errno = saved;
    return negative ? 0 - value : value;
  }
  return std::strtoul(text, end, base);
}

}  // extern "C"
