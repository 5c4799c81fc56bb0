#include "ElfFile.h"

#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

namespace elfx {

namespace {

struct ElfCloser {
  void operator()(Elf* e) const { elf_end(e); }
};

// The file descriptor closes however the write ends.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

void AddName(std::vector<uint8_t>& table, const std::string& name, uint32_t* pOffset) {
  *pOffset = uint32_t(table.size());
  table.insert(table.end(), name.begin(), name.end());
  table.push_back(0);
}

}  // namespace

bool WriteElf(const ElfImage& image, const std::string& path, std::string* pError) {
  auto fail = [&](const std::string& what) {
    *pError = "cannot write " + path + ": " + what;
    return false;
  };
  if (elf_version(EV_CURRENT) == EV_NONE) return fail(elf_errmsg(-1));
  Fd out;
  out.fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out.fd < 0) return fail("cannot create the file");
  std::unique_ptr<Elf, ElfCloser> elf(elf_begin(out.fd, ELF_C_WRITE, nullptr));
  if (!elf) return fail(elf_errmsg(-1));
  Elf32_Ehdr* eh = elf32_newehdr(elf.get());
  if (!eh) return fail(elf_errmsg(-1));
  eh->e_ident[EI_DATA] = ELFDATA2LSB;
  eh->e_type = ET_EXEC;
  eh->e_machine = image.machine;
  eh->e_version = EV_CURRENT;
  eh->e_entry = image.entry;

  size_t loads = std::count_if(image.sections.begin(), image.sections.end(),
                               [](const Section& s) { return (s.flags & SHF_ALLOC) != 0; });
  Elf32_Phdr* ph = loads ? elf32_newphdr(elf.get(), loads) : nullptr;
  if (loads && !ph) return fail(elf_errmsg(-1));

  // The tables libelf writes from must live until the file is written.
  std::vector<uint8_t> shstrtab{0}, strtab{0};
  std::vector<Elf32_Sym> syms(1);
  std::vector<Elf_Scn*> scns;
  auto addSection = [&](const std::string& name, uint32_t type, uint32_t flags, uint32_t address,
                        const void* bytes, size_t size, Elf_Type dataType) -> Elf32_Shdr* {
    Elf_Scn* scn = elf_newscn(elf.get());
    Elf_Data* d = scn ? elf_newdata(scn) : nullptr;
    Elf32_Shdr* sh = scn ? elf32_getshdr(scn) : nullptr;
    if (!d || !sh) return nullptr;
    d->d_buf = const_cast<void*>(bytes);
    d->d_size = size;
    d->d_type = dataType;
    d->d_align = dataType == ELF_T_SYM ? 4 : 1;
    d->d_version = EV_CURRENT;
    AddName(shstrtab, name, &sh->sh_name);
    sh->sh_type = type;
    sh->sh_flags = flags;
    sh->sh_addr = address;
    sh->sh_addralign = d->d_align;
    scns.push_back(scn);
    return sh;
  };

  for (const Section& s : image.sections) {
    bool nobits = s.type == SHT_NOBITS;
    if (!addSection(s.name, s.type, s.flags, s.address, nobits ? nullptr : s.bytes.data(),
                    nobits ? s.size : s.bytes.size(), ELF_T_BYTE))
      return fail(elf_errmsg(-1));
  }

  // Locals first, as the symbol table's sh_info requires.
  std::vector<const Symbol*> order;
  for (const Symbol& s : image.symbols)
    if (!s.global) order.push_back(&s);
  size_t firstGlobal = order.size() + 1;
  for (const Symbol& s : image.symbols)
    if (s.global) order.push_back(&s);
  for (const Symbol* s : order) {
    Elf32_Sym e{};
    AddName(strtab, s->name, &e.st_name);
    e.st_value = s->value;
    e.st_size = s->size;
    e.st_info = ELF32_ST_INFO(s->global ? STB_GLOBAL : STB_LOCAL, s->type);
    // Section n of the list is ELF section n + 1 (0 is the null section).
    e.st_shndx = s->section >= 0 ? uint16_t(s->section + 1) : uint16_t(SHN_ABS);
    syms.push_back(e);
  }
  Elf32_Shdr* symtab = addSection(".symtab", SHT_SYMTAB, 0, 0, syms.data(),
                                  syms.size() * sizeof(Elf32_Sym), ELF_T_SYM);
  Elf32_Shdr* strSh =
      addSection(".strtab", SHT_STRTAB, 0, 0, strtab.data(), strtab.size(), ELF_T_BYTE);
  Elf32_Shdr* shstr = addSection(".shstrtab", SHT_STRTAB, 0, 0, nullptr, 0, ELF_T_BYTE);
  if (!symtab || !strSh || !shstr) return fail(elf_errmsg(-1));
  // Every name is in the table now, its own included.
  Elf_Data* shstrData = elf_getdata(scns.back(), nullptr);
  shstrData->d_buf = shstrtab.data();
  shstrData->d_size = shstrtab.size();
  symtab->sh_entsize = sizeof(Elf32_Sym);
  symtab->sh_link = uint32_t(elf_ndxscn(scns[scns.size() - 2]));
  symtab->sh_info = uint32_t(firstGlobal);
  eh->e_shstrndx = uint16_t(elf_ndxscn(scns.back()));

  // Lay the file out, then point each segment at its section.
  if (elf_update(elf.get(), ELF_C_NULL) < 0) return fail(elf_errmsg(-1));
  size_t p = 0;
  for (size_t i = 0; i < image.sections.size(); ++i) {
    const Section& s = image.sections[i];
    if (!(s.flags & SHF_ALLOC)) continue;
    Elf32_Shdr* sh = elf32_getshdr(scns[i]);
    Elf32_Phdr& seg = ph[p++];
    seg.p_type = PT_LOAD;
    seg.p_offset = sh->sh_offset;
    seg.p_vaddr = s.address;
    seg.p_paddr = s.load;
    seg.p_filesz = s.type == SHT_NOBITS ? 0 : uint32_t(s.bytes.size());
    seg.p_memsz = s.type == SHT_NOBITS ? s.size : uint32_t(s.bytes.size());
    seg.p_flags =
        PF_R | ((s.flags & SHF_EXECINSTR) ? PF_X : 0) | ((s.flags & SHF_WRITE) ? PF_W : 0);
    seg.p_align = 1;
  }
  elf_flagphdr(elf.get(), ELF_C_SET, ELF_F_DIRTY);
  if (elf_update(elf.get(), ELF_C_WRITE) < 0) return fail(elf_errmsg(-1));
  return true;
}

}  // namespace elfx
