#include "dsp/option_kinds.h"

#include "platform/text_case.h"

namespace {

const OptionKind* find(int32_t kind) {
  for (const OptionKind& option : kOptionKinds) {
    if (option.kind == kind) return &option;
  }
  return nullptr;
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
    if (platform::equalNoCase(name, option.name)) return option.kind;
  }
  return std::nullopt;
}
