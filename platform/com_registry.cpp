#include "platform/com_registry.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

namespace {

constexpr std::size_t kMaxRegistryBytes = 4 * 1024 * 1024;

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z')
            x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

std::string OneLine(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return out;
}

thread_local std::string t_lastLoadError;

}  // namespace

std::string ComponentRegistryPath() {
    if (const char* p = std::getenv("QVELNOR_REGISTRY"); p != nullptr && *p != '\0') {
        return p;
    }
    std::string base;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x != nullptr && *x == '/') {
        base = x;
    } else if (const char* h = std::getenv("HOME"); h != nullptr && *h != '\0') {
        base = std::string(h) + "/.config";
    } else {
        base = "/tmp";
    }
    return base + "/QVelnor/components.ini";
}

// --- RegistryFile --------------------------------------------------------------

bool RegistryFile::Load(const std::string& path) {
    m_sections.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        static_cast<std::size_t>(st.st_size) > kMaxRegistryBytes) {
        ::close(fd);
        return false;
    }
    std::string text;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        text.append(buffer, static_cast<std::size_t>(n));
        if (text.size() > kMaxRegistryBytes) {
            ::close(fd);
            return false;
        }
    }
    ::close(fd);

    std::string_view rest = text;
    Entries* current = nullptr;
    while (!rest.empty()) {
        const std::size_t eol = rest.find('\n');
        std::string_view line = Trim(rest.substr(0, eol));
        rest = eol == std::string_view::npos ? std::string_view() : rest.substr(eol + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            const std::string_view name = Trim(line.substr(1, line.size() - 2));
            current = nullptr;
            for (auto& [section, entries] : m_sections) {
                if (EqualNoCase(section, name))
                    current = &entries;
            }
            if (current == nullptr) {
                m_sections.emplace_back(std::string(name), Entries{});
                current = &m_sections.back().second;
            }
            continue;
        }
        const std::size_t eq = line.find('=');
        if (current == nullptr || eq == std::string_view::npos)
            continue;
        const std::string_view key = Trim(line.substr(0, eq));
        const std::string_view value = Trim(line.substr(eq + 1));
        bool replaced = false;
        for (auto& [k, v] : *current) {
            if (EqualNoCase(k, key)) {
                v = std::string(value);
                replaced = true;
            }
        }
        if (!replaced)
            current->emplace_back(std::string(key), std::string(value));
    }
    return true;
}

bool RegistryFile::Save(const std::string& path) const {
    std::string text =
        "; Component registry of QVelnor. Written by the registration of each library.\n";
    for (const auto& [section, entries] : m_sections) {
        text += "\n[" + section + "]\n";
        for (const auto& [k, v] : entries)
            text += k + "=" + v + "\n";
    }

    std::error_code ec;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec)
            return false;
    }
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    bool ok = true;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
            break;
        }
        written += static_cast<std::size_t>(n);
    }
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}

std::optional<std::string> RegistryFile::Get(std::string_view section, std::string_view key) const {
    for (const auto& [name, entries] : m_sections) {
        if (!EqualNoCase(name, section))
            continue;
        for (const auto& [k, v] : entries) {
            if (EqualNoCase(k, key))
                return v;
        }
        return std::nullopt;
    }
    return std::nullopt;
}

void RegistryFile::Set(std::string_view section, std::string_view key, std::string_view value) {
    Entries* entries = nullptr;
    for (auto& [name, e] : m_sections) {
        if (EqualNoCase(name, section))
            entries = &e;
    }
    if (entries == nullptr) {
        m_sections.emplace_back(OneLine(section), Entries{});
        entries = &m_sections.back().second;
    }
    for (auto& [k, v] : *entries) {
        if (EqualNoCase(k, key)) {
            v = OneLine(value);
            return;
        }
    }
    entries->emplace_back(OneLine(key), OneLine(value));
}

bool RegistryFile::HasSection(std::string_view section) const {
    for (const auto& [name, entries] : m_sections) {
        if (EqualNoCase(name, section))
            return true;
    }
    return false;
}

void RegistryFile::RemoveSection(std::string_view section) {
    std::erase_if(m_sections, [&](const auto& s) { return EqualNoCase(s.first, section); });
}

// --- entries -----------------------------------------------------------------

std::string ClassSection(const Guid& clsid) {
    return "CLSID\\" + GuidToString(clsid);
}
std::string ProgIdSection(std::string_view progId) {
    return "ProgID\\" + std::string(progId);
}
std::string TypeLibSection(const Guid& libid) {
    return "TypeLib\\" + GuidToString(libid);
}
std::string CategorySection(const Guid& catid) {
    return "Component Categories\\" + GuidToString(catid);
}

void WriteClassEntry(RegistryFile& reg, const ClassEntry& e) {
    const std::string section = ClassSection(e.clsid);
    reg.RemoveSection(section);
    reg.Set(section, "ProgID", e.progId);
    reg.Set(section, "TypeName", e.typeName);
    reg.Set(section, "InprocServer32", e.modulePath);
    reg.Set(section, "ThreadingModel", e.threadingModel);
    if (e.miscStatus)
        reg.Set(section, "MiscStatus", std::to_string(*e.miscStatus));
    if (e.typeLib)
        reg.Set(section, "TypeLib", GuidToString(*e.typeLib));
    if (!e.version.empty())
        reg.Set(section, "Version", e.version);
    if (e.control)
        reg.Set(section, "Control", "1");
    if (!e.toolboxBitmap.empty())
        reg.Set(section, "ToolboxBitmap32", e.toolboxBitmap);
    if (!e.categories.empty()) {
        std::string list;
        for (const Guid& c : e.categories) {
            if (!list.empty())
                list += ',';
            list += GuidToString(c);
        }
        reg.Set(section, "Implemented Categories", list);
    }
    if (!e.progId.empty()) {
        reg.RemoveSection(ProgIdSection(e.progId));
        reg.Set(ProgIdSection(e.progId), "CLSID", GuidToString(e.clsid));
    }
}

void RemoveClassEntry(RegistryFile& reg, const Guid& clsid) {
    const std::string section = ClassSection(clsid);
    if (auto progId = reg.Get(section, "ProgID"); progId && !progId->empty()) {
        auto owner = reg.Get(ProgIdSection(*progId), "CLSID");
        if (owner && GuidFromString(*owner) == clsid)
            reg.RemoveSection(ProgIdSection(*progId));
    }
    reg.RemoveSection(section);
}

void WriteTypeLibEntry(RegistryFile& reg, const TypeLibEntry& e) {
    const std::string section = TypeLibSection(e.libid);
    reg.RemoveSection(section);
    reg.Set(section, "Name", e.name);
    reg.Set(section, "Version", e.version);
    reg.Set(section, "Path", e.path);
}

void RemoveTypeLibEntry(RegistryFile& reg, const Guid& libid) {
    reg.RemoveSection(TypeLibSection(libid));
}

bool EnsureCategory(RegistryFile& reg, const Guid& catid, std::string_view description) {
    const std::string section = CategorySection(catid);
    if (reg.HasSection(section))
        return false;
    reg.Set(section, "Description", description);
    return true;
}

std::optional<Guid> ClassIdFromProgId(std::string_view progId) {
    RegistryFile reg;
    if (!reg.Load(ComponentRegistryPath()))
        return std::nullopt;
    auto clsid = reg.Get(ProgIdSection(progId), "CLSID");
    return clsid ? GuidFromString(*clsid) : std::nullopt;
}

// --- creation ----------------------------------------------------------------

HRESULT GetClassObjectFromRegistry(const Guid& clsid, const Guid& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    RegistryFile reg;
    if (!reg.Load(ComponentRegistryPath()))
        return CLASS_E_CLASSNOTAVAILABLE;
    const auto module = reg.Get(ClassSection(clsid), "InprocServer32");
    if (!module || module->empty())
        return CLASS_E_CLASSNOTAVAILABLE;

    // Libraries stay loaded: their objects and windows may outlive any count
    // we could keep here, and the Qt types they register must stay valid.
    static std::mutex lock;
    static std::map<std::string, void*> loaded;
    void* handle = nullptr;
    {
        std::lock_guard guard(lock);
        auto it = loaded.find(*module);
        if (it != loaded.end()) {
            handle = it->second;
        } else {
            handle = ::dlopen(module->c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle == nullptr) {
                const char* why = ::dlerror();
                t_lastLoadError = why != nullptr ? why : *module;
                return CO_E_DLLNOTFOUND;
            }
            loaded.emplace(*module, handle);
        }
    }
    auto entry = reinterpret_cast<DllGetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
    if (entry == nullptr)
        return CO_E_ERRORINDLL;
    return entry(&clsid, &iid, out);
}

HRESULT CreateInstanceFromRegistry(const Guid& clsid, const Guid& iid, void** out) {
    if (out == nullptr)
        return E_POINTER;
    *out = nullptr;
    void* p = nullptr;
    HRESULT hr = GetClassObjectFromRegistry(clsid, IID_IClassFactory, &p);
    if (Failed(hr))
        return hr;
    auto* factory = static_cast<IClassFactory*>(p);
    hr = factory->CreateInstance(nullptr, iid, out);
    factory->Release();
    return hr;
}

std::string LastModuleLoadError() {
    return t_lastLoadError;
}
