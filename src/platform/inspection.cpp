// The inspection mode's state and answers, shared by the Linux and Win32
// backends, which differ only in how they recognise the host's module.
#include "platform/inspection.h"

namespace platform {
namespace {

Inspection* inspection = nullptr;

const char inspectedLibrary = 0;

}  // namespace

void SetInspection(Inspection* value) { inspection = value; }

bool Inspecting() { return inspection != nullptr; }

ModuleHandle InspectedLibrary() {
  return reinterpret_cast<ModuleHandle>(const_cast<char*>(&inspectedLibrary));
}

const std::string* InspectedModulePath(ModuleHandle module, bool isHost) {
  if (inspection == nullptr) return nullptr;
  if (isHost) return &inspection->hostPath;
  return module == InspectedLibrary() ? &inspection->libraryPath : nullptr;
}

void NoteProfileRead(const char* fileName) {
  if (inspection != nullptr) inspection->profilesRead.push_back(fileName);
}

void NoteFolderCreation(const std::string& path) {
  if (inspection != nullptr) inspection->foldersToCreate.push_back(path);
}

}  // namespace platform
