#include "CriQuillBase.h"

uint32_t CreateCriQuillAdx(const QuillDll::CODECINFO& /*info*/, CriQuillBase** codec) {
  *codec = nullptr;
  return QuillDll::RESULT_FAILED;
}
