#include "dsp/option_kinds.h"

#include <cctype>

namespace {

const OptionKind* find(int32_t kind) {
  for (const OptionKind& option : kOptionKinds) {
    if (option.kind == kind) return &option;
  }
  return nullptr;
}

bool sameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

std::string optionKindName(int32_t kind) {
  const OptionKind* option = find(kind);
  return option ? option->name : std::string();
}

const char* optionImageFile(int32_t kind) {
  const OptionKind* option = find(kind);
  return option ? option->imageFile : nullptr;
}

std::optional<int32_t> optionKindOfName(std::string_view name) {
  for (const OptionKind& option : kOptionKinds) {
    if (sameIgnoringCase(name, option.name)) return option.kind;
  }
  return std::nullopt;
}
