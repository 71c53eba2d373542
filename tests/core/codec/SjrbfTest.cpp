// The ring buffer of the codec runtime and its error reporting.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "CodecTestUtil.h"
#include "HookCapture.h"
#include "runtime/ErrorHook.h"
#include "runtime/Sjrbf.h"

namespace {

constexpr int32_t RING = 4096;
constexpr int32_t MIRROR = 4096;

class SjrbfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SJRBF_Init();
    m_ring = SJRBF_Create(m_work.data(), RING, MIRROR);
    ASSERT_NE(m_ring, nullptr);
  }
  void TearDown() override {
    if (m_ring != nullptr) SJ_Destroy(m_ring);
    SJRBF_Finish();
  }

  // Takes `n` bytes of `lane` and moves them to the other lane.
  SjChunk Move(int32_t lane, int32_t n) {
    SjChunk chunk;
    SJ_TakeChunk(m_ring, lane, n, &chunk);
    SJ_AddChunk(m_ring, 1 - lane, &chunk);
    return chunk;
  }

  std::vector<uint8_t> m_work = std::vector<uint8_t>(RING + MIRROR);
  SjHandle m_ring = nullptr;
  HookCapture m_hook;
};

TEST_F(SjrbfTest, FreshRingIsAllFreeSpace) {
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_FREE), RING);
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_DATA), 0);
  EXPECT_STREQ(SJ_GetIdentifier(m_ring), "{3B9A9E81-0DBB-11D2-A6BF-444553540000}");
  EXPECT_EQ(SJRBF_GetBufPtr(m_ring), m_work.data());
  EXPECT_EQ(SJRBF_GetBufSize(m_ring), RING);
  EXPECT_EQ(SJRBF_GetXtrSize(m_ring), MIRROR);

  for (int32_t ask : {RING, RING + 1, 100000}) {
    int32_t available = -1;
    EXPECT_EQ(SJ_CanTake(m_ring, SJ_LIN_FREE, ask, &available), ask == RING);
    EXPECT_EQ(available, RING);
    SjChunk chunk;
    SJ_TakeChunk(m_ring, SJ_LIN_FREE, ask, &chunk);
    EXPECT_EQ(chunk.data, m_work.data());
    EXPECT_EQ(chunk.len, RING);
    SJ_ReturnChunk(m_ring, SJ_LIN_FREE, &chunk);
    EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_FREE), RING);
  }
  SjChunk none;
  SJ_TakeChunk(m_ring, SJ_LIN_DATA, 10, &none);
  EXPECT_EQ(none.len, 0);
  EXPECT_TRUE(m_hook.Messages().empty());
}

TEST_F(SjrbfTest, ChunkRunsIntoTheMirrorAndIsCopiedToTheRingStart) {
  Move(SJ_LIN_FREE, 4000);
  Move(SJ_LIN_DATA, 4000);

  SjChunk free;
  SJ_TakeChunk(m_ring, SJ_LIN_FREE, 1000, &free);
  ASSERT_EQ(free.data, m_work.data() + 4000);
  ASSERT_EQ(free.len, 1000);  // contiguous: 96 bytes of ring, 904 of mirror
  for (int i = 0; i < 1000; ++i) free.data[i] = static_cast<uint8_t>(i * 7 + 3);
  SJ_AddChunk(m_ring, SJ_LIN_DATA, &free);

  // The 904 bytes written into the mirror are also at the ring's start.
  for (int i = 0; i < 904; ++i) ASSERT_EQ(m_work[static_cast<size_t>(i)], static_cast<uint8_t>((96 + i) * 7 + 3));

  SjChunk data;
  SJ_TakeChunk(m_ring, SJ_LIN_DATA, 1000, &data);
  ASSERT_EQ(data.data, m_work.data() + 4000);
  ASSERT_EQ(data.len, 1000);
  for (int i = 0; i < 1000; ++i) ASSERT_EQ(data.data[i], static_cast<uint8_t>(i * 7 + 3));
  SJ_AddChunk(m_ring, SJ_LIN_FREE, &data);

  // The next free chunk starts at the wrapped position 904; data written there
  // goes to the mirror too, so a chunk read across the ring's end stays whole.
  SjChunk next;
  SJ_TakeChunk(m_ring, SJ_LIN_FREE, 100, &next);
  EXPECT_EQ(next.data, m_work.data() + 904);
  std::memset(next.data, 0xAB, 100);
  SJ_AddChunk(m_ring, SJ_LIN_DATA, &next);
  EXPECT_EQ(m_work[RING + 904], 0xAB);
  EXPECT_EQ(m_work[RING + 1003], 0xAB);
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_DATA), 100);
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_FREE), RING - 100);
  EXPECT_TRUE(m_hook.Messages().empty());
}

TEST_F(SjrbfTest, ReturnChunkAcceptsOnlyTheLastChunkTaken) {
  SjChunk first;
  SjChunk second;
  SJ_TakeChunk(m_ring, SJ_LIN_FREE, 100, &first);
  SJ_TakeChunk(m_ring, SJ_LIN_FREE, 200, &second);

  SJ_ReturnChunk(m_ring, SJ_LIN_FREE, &first);
  ASSERT_EQ(m_hook.Messages().size(), 1u);
  EXPECT_EQ(m_hook.Messages()[0], "SJRBF Parameter Error");
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_FREE), RING - 300);

  // The tail of the last chunk may come back, then the rest, then the first.
  SjChunk tail{second.data + 150, 50};
  SJ_ReturnChunk(m_ring, SJ_LIN_FREE, &tail);
  SjChunk head{second.data, 150};
  SJ_ReturnChunk(m_ring, SJ_LIN_FREE, &head);
  SJ_ReturnChunk(m_ring, SJ_LIN_FREE, &first);
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_FREE), RING);
  EXPECT_EQ(m_hook.Messages().size(), 1u);

  SjChunk again;
  SJ_TakeChunk(m_ring, SJ_LIN_FREE, 10, &again);
  EXPECT_EQ(again.data, m_work.data());
}

TEST_F(SjrbfTest, BadArgumentsGoToTheErrorFunctionAndChangeNothing) {
  std::vector<int32_t> codes;
  SJ_TakeChunk(m_ring, 2, 10, nullptr);  // default function: a message
  ASSERT_EQ(m_hook.Messages().size(), 1u);
  EXPECT_EQ(m_hook.Messages()[0], "SJRBF Parameter Error");

  m_ring->vtbl->SetErrorFunction(
      m_ring, [](void* context, int32_t code) { static_cast<std::vector<int32_t>*>(context)->push_back(code); },
      &codes);
  SjChunk chunk{nullptr, 7};
  SJ_TakeChunk(m_ring, -1, 10, &chunk);
  EXPECT_EQ(chunk.data, nullptr);
  EXPECT_EQ(chunk.len, 0);
  EXPECT_EQ(SJ_CountBytes(m_ring, 5), 0);

  // Chunks that do not belong to the ring, or would overfill a lane, are refused.
  uint8_t elsewhere[16] = {};
  SjChunk foreign{elsewhere, 16};
  SJ_AddChunk(m_ring, SJ_LIN_DATA, &foreign);
  SjChunk tooLong{m_work.data() + 8000, 500};
  SJ_AddChunk(m_ring, SJ_LIN_DATA, &tooLong);
  SjChunk overfill{m_work.data(), 10};
  SJ_AddChunk(m_ring, SJ_LIN_FREE, &overfill);  // the free lane is already full
  SJ_ReturnChunk(m_ring, SJ_LIN_FREE, &overfill);
  EXPECT_EQ(codes, (std::vector<int32_t>{-3, -3, -3, -3, -3, -3}));
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_DATA), 0);
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_FREE), RING);
  EXPECT_EQ(m_hook.Messages().size(), 1u);
}

TEST_F(SjrbfTest, NullAndDestroyedObjectsAreReportedByCode) {
  const SjInterface* ops = SJRBF_Interface();
  SjChunk chunk;
  ops->TakeChunk(nullptr, SJ_LIN_FREE, 10, &chunk);
  ops->CountBytes(nullptr, SJ_LIN_FREE);
  EXPECT_EQ(SJRBF_GetBufSize(nullptr), 0);

  SJ_Destroy(m_ring);
  SjHandle gone = m_ring;
  m_ring = nullptr;
  SJ_TakeChunk(gone, SJ_LIN_FREE, 10, &chunk);
  EXPECT_EQ(chunk.len, 0);
  SJ_Reset(gone);
  EXPECT_EQ(SJ_GetIdentifier(gone), nullptr);
  EXPECT_EQ(m_hook.Messages(), (std::vector<std::string>{
                                   "E2004090211 : NULL pointer is passed.",
                                   "E2004090209 : NULL pointer is passed.",
                                   "E2004090223 : NULL pointer is passed.",
                                   "E2004090212 : Specified handle is invalid.",
                                   "E2004090208 : Specified handle is invalid.",
                                   "E2004090204 : Specified handle is invalid.",
                               }));
}

TEST_F(SjrbfTest, ResetFreesEverything) {
  Move(SJ_LIN_FREE, 3000);
  Move(SJ_LIN_DATA, 1000);
  SJ_Reset(m_ring);
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_FREE), RING);
  EXPECT_EQ(SJ_CountBytes(m_ring, SJ_LIN_DATA), 0);
  SjChunk chunk;
  SJ_TakeChunk(m_ring, SJ_LIN_FREE, 1, &chunk);
  EXPECT_EQ(chunk.data, m_work.data());
}

TEST(SjrbfPoolTest, HoldsSevenHundredSixtyEightRings) {
  SJRBF_Init();
  std::vector<uint8_t> work(64);
  std::vector<SjHandle> rings;
  for (int i = 0; i < SJRBF_POOL_SIZE; ++i) {
    SjHandle ring = SJRBF_Create(work.data(), 32, 32);
    ASSERT_NE(ring, nullptr) << i;
    rings.push_back(ring);
  }
  EXPECT_EQ(SJRBF_Create(work.data(), 32, 32), nullptr);
  SJ_Destroy(rings[100]);
  rings[100] = SJRBF_Create(work.data(), 32, 32);
  EXPECT_NE(rings[100], nullptr);
  for (SjHandle ring : rings) SJ_Destroy(ring);

  EXPECT_EQ(SJRBF_Create(nullptr, 32, 32), nullptr);
  EXPECT_EQ(SJRBF_Create(work.data(), 0, 0), nullptr);
  EXPECT_EQ(SJRBF_Create(work.data(), 16, 32), nullptr);
  SJRBF_Finish();
}

TEST(SjrbfServiceTest, OperationsOutsideTheServiceReportTheLock) {
  std::vector<uint8_t> work(64);
  SJRBF_Init();
  SJRBF_Init();
  SjHandle ring = SJRBF_Create(work.data(), 32, 32);
  ASSERT_NE(ring, nullptr);
  SJRBF_Finish();  // one user left: the ring lives on
  EXPECT_EQ(SJ_CountBytes(ring, SJ_LIN_FREE), 32);
  SJRBF_Finish();  // the last: pool cleared, lock gone

  HookCapture hook;
  EXPECT_EQ(SJ_CountBytes(ring, SJ_LIN_FREE), 0);
  const std::string notReady = " : The function has been executed before initialization (or after finalization).";
  EXPECT_EQ(hook.Messages(), (std::vector<std::string>{
                                 "E2006022403" + notReady,
                                 "E2004090210 : Specified handle is invalid.",
                                 "E2006022404" + notReady,
                             }));
  SJRBF_Finish();  // unbalanced finish: ignored
}

TEST(ErrorHookTest, JoinsCutsAndUninstalls) {
  HookCapture hook;
  ErrorHook_Report("E1 prefix: ", "text");
  ErrorHook_Report(std::string(300, 'x').c_str());
  ErrorHook_Report(std::string(250, 'a').c_str(), "0123456789");
  ASSERT_EQ(hook.Messages().size(), 3u);
  EXPECT_EQ(hook.Messages()[0], "E1 prefix: text");
  EXPECT_EQ(hook.Messages()[1], std::string(255, 'x'));
  EXPECT_EQ(hook.Messages()[2], std::string(250, 'a') + "01234");

  ErrorHook_Install(nullptr, nullptr);
  ErrorHook_Report("nobody listens");
  EXPECT_EQ(hook.Messages().size(), 3u);
}

}  // namespace
