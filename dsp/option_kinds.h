// The option modules an instrument may carry: the number each kind is kept as in the
// settings, the name it is written with ("B1") and the DSP image it is programmed from.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

inline constexpr int32_t kOptionNone = 0;
inline constexpr int32_t kOptionB1 = 1;
inline constexpr int32_t kOptionB20 = 2;
inline constexpr int32_t kOptionB10 = 3;

struct OptionKind {
  int32_t kind;
  const char* name;       // in records, on the command line and in the fleet's table
  const char* imageFile;  // the DSP image, looked up among the host files
};

inline constexpr OptionKind kOptionKinds[] = {
    {kOptionB1, "B1", "QAM.BIN"},
    {kOptionB20, "B20", "ATSC.BIN"},
    {kOptionB10, "B10", "OFDM.BIN"},
};

// "B1", "B20" or "B10"; empty for none (or a number that is no kind).
std::string optionKindName(int32_t kind);
// The image file of a kind; nullptr for none.
const char* optionImageFile(int32_t kind);
// The kind of a name in any letter case ("b10"); unset for anything else, "none" included.
std::optional<int32_t> optionKindOfName(std::string_view name);
