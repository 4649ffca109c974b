#pragma once
// The component registry: which library implements which class, so that a
// host creates a control by its class id alone.
//
// One file per user, $QVELNOR_REGISTRY when set, else
// $XDG_CONFIG_HOME/QVelnor/components.ini (default ~/.config/QVelnor/). It is
// an INI-style text file, UTF-8, one "[section]" per registered thing:
//
//   [CLSID\{A00A4A7F-...}]              a class
//   ProgID=QVELNORCLIENT.QVelnorClientCtrl.1
//   TypeName=QVelnorClient Control
//   InprocServer32=/abs/path/libQVelnorClient.so
//   ThreadingModel=Apartment
//   MiscStatus=131473                   decimal
//   TypeLib={58BA6CCE-...}
//   Version=1.0
//   Control=1
//   ToolboxBitmap32=/abs/path/libQVelnorClient.so, 1
//   Implemented Categories={...},{...}
//
//   [ProgID\QVELNORCLIENT.QVelnorClientCtrl.1]
//   CLSID={A00A4A7F-...}
//
//   [TypeLib\{58BA6CCE-...}]
//   Name=QVelnorClientLib  Version=1.0  Path=...
//
//   [Component Categories\{...}]
//   Description=Controls that are safely scriptable
//
// Section and key names match without regard to ASCII case. Changes are made
// on a loaded copy and written back whole (temporary file, then rename), so
// a registration is stored completely or not at all. Two processes editing at
// the same moment: the later write wins.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com_base.h"

inline constexpr HRESULT CO_E_DLLNOTFOUND = MakeHResult(0x800401F8);
inline constexpr HRESULT CO_E_ERRORINDLL = MakeHResult(0x800401F9);

// The registry file in use (see above). Never empty.
std::string ComponentRegistryPath();

class RegistryFile {
public:
    // Reads path. A file (or folder) that does not exist yet is an empty
    // registry; false when something is there that cannot be read.
    bool Load(const std::string& path);
    // Writes the whole registry to path, creating its folder. false when that
    // fails; the old file is then left as it was.
    bool Save(const std::string& path) const;

    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    // Values hold no line breaks (they are replaced by blanks).
    void Set(std::string_view section, std::string_view key, std::string_view value);
    bool HasSection(std::string_view section) const;
    void RemoveSection(std::string_view section);

private:
    using Entries = std::vector<std::pair<std::string, std::string>>;
    std::vector<std::pair<std::string, Entries>> m_sections;  // in file order
};

struct ClassEntry {
    Guid clsid;
    std::string progId;
    std::string typeName;
    std::string modulePath;
    std::string threadingModel = "Apartment";
    std::optional<std::uint32_t> miscStatus;
    std::optional<Guid> typeLib;
    std::string version;
    bool control = false;
    std::string toolboxBitmap;  // "module, resource id"
    std::vector<Guid> categories;
};

struct TypeLibEntry {
    Guid libid;
    std::string name;
    std::string version;
    std::string path;
};

std::string ClassSection(const Guid& clsid);
std::string ProgIdSection(std::string_view progId);
std::string TypeLibSection(const Guid& libid);
std::string CategorySection(const Guid& catid);

// Replaces the class's section and its program id section.
void WriteClassEntry(RegistryFile& reg, const ClassEntry& entry);
// Removes the class's section and the program id section that points to it.
void RemoveClassEntry(RegistryFile& reg, const Guid& clsid);
void WriteTypeLibEntry(RegistryFile& reg, const TypeLibEntry& entry);
void RemoveTypeLibEntry(RegistryFile& reg, const Guid& libid);
// Adds the category with its description when it is missing; an existing
// category keeps its description. Returns true when it was added.
bool EnsureCategory(RegistryFile& reg, const Guid& catid, std::string_view description);

// Lookups in the registry file in use.
std::optional<Guid> ClassIdFromProgId(std::string_view progId);

// Finds the class's library in the registry, loads it (it then stays loaded
// for the life of the process) and asks its DllGetClassObject.
// CLASS_E_CLASSNOTAVAILABLE when the class is not registered,
// CO_E_DLLNOTFOUND when its library does not load, CO_E_ERRORINDLL when the
// library lacks the entry point.
HRESULT GetClassObjectFromRegistry(const Guid& clsid, const Guid& iid, void** out);
// The class object's CreateInstance (no aggregation) on top of that.
HRESULT CreateInstanceFromRegistry(const Guid& clsid, const Guid& iid, void** out);

// The loader's reason for the last CO_E_DLLNOTFOUND on this thread.
std::string LastModuleLoadError();
