// Stands in for the HCA set-up in a build without hca/: every HCA Open fails
// cleanly.
#include "CriQuillBase.h"

uint32_t CreateCriQuillHca(const QuillDll::CODECINFO& /*info*/, CriQuillBase** codec) {
  if (codec != nullptr) *codec = nullptr;
  return QuillDll::RESULT_FAILED;
}
