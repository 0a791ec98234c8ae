// The libFuzzer entry of every fuzz target: it hands the input to the
// function of the target's *_fuzz.cpp that ORVANE_FUZZ_ENTRY names (one
// source may serve several targets).
#include <cstddef>
#include <cstdint>

int ORVANE_FUZZ_ENTRY(const uint8_t* Data, size_t Size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  return ORVANE_FUZZ_ENTRY(Data, Size);
}
