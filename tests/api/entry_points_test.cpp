#include "api/transcoder_logic.h"

#include <gtest/gtest.h>

#include "norv/transcoder.h"

namespace {

using namespace nvt;

const WideString kEngine = NORV_WTEXT("/nonexistent/NorvEngine");

// A fresh engine object per test: the process's own one keeps its state.
class EngineObject : public ::testing::Test {
protected:
    CNorvTranscoderLogic logic;
};

TEST_F(EngineObject, SessionsNeedAnInitialisedEngine) {
    ITranscodeSession* session = nullptr;
    EXPECT_EQ(logic.CreateTranscodeSession(nullptr), InvalidArgument);
    EXPECT_EQ(logic.CreateTranscodeSession(&session), NotAvailable);
    EXPECT_EQ(session, nullptr);

    std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
    int32_t w = 0;
    int32_t h = 0;
    EXPECT_EQ(logic.CreateMediaSource(NORV_WTEXT("a.mp4"), &w, &h, NORV_WTEXT(""), sources),
              NotAvailable);
}

TEST_F(EngineObject, InitRefusesAnEmptyLocationAndStaysUninitialised) {
    ITranscodeSession* session = nullptr;
    EXPECT_EQ(logic.InitTranscodeEngine(NORV_WTEXT(""), SLoggerParam(), nullptr, NORV_WTEXT("")),
              InvalidArgument);
    EXPECT_EQ(logic.InitTranscodeEngine(WideString(1, 0) + NORV_WTEXT("x"), SLoggerParam(), nullptr,
                                        NORV_WTEXT("")),
              InvalidArgument);
    EXPECT_EQ(logic.CreateTranscodeSession(&session), NotAvailable);
}

TEST_F(EngineObject, InitWithoutInfoStoresTheLocationOnly) {
    EXPECT_EQ(logic.InitTranscodeEngine(kEngine, SLoggerParam(), nullptr, NORV_WTEXT("")), SUCCESS);
    ITranscodeSession* session = nullptr;
    ASSERT_EQ(logic.CreateTranscodeSession(&session), SUCCESS);
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->GetRefCount(), 1);
    TranscodeState state = TS_Failed;
    EXPECT_EQ(session->GetState(&state), SUCCESS);
    EXPECT_EQ(state, TS_Pending);
    EXPECT_EQ(session->Release(), 0);
}

TEST_F(EngineObject, CreateMediaSourceEmptiesTheVectorAndRefusesAnEmptyPath) {
    ASSERT_EQ(logic.InitTranscodeEngine(kEngine, SLoggerParam(), nullptr, NORV_WTEXT("")), SUCCESS);
    ITranscodeSession* session = nullptr;
    ASSERT_EQ(logic.CreateTranscodeSession(&session), SUCCESS);
    std::vector<nvtl::RefCountedPtr<ISourceMedia>> sources;
    sources.emplace_back(nullptr);
    int32_t w = 0;
    int32_t h = 0;
    EXPECT_EQ(logic.CreateMediaSource(NORV_WTEXT(""), &w, &h, NORV_WTEXT(""), sources),
              InvalidArgument);
    EXPECT_TRUE(sources.empty());
    session->Release();
}

TEST_F(EngineObject, ProfileFactoriesCheckTheirArguments) {
    ITranscodeProfile* profile = nullptr;
    ITranscodeOutputSettings* settings = nullptr;
    EXPECT_EQ(logic.CreateTranscodeProfile(_NP_count_, 25.0, &profile), InvalidArgument);
    EXPECT_EQ(logic.CreateTranscodeProfile(-1, 25.0, &profile), InvalidArgument);
    EXPECT_EQ(logic.CreateTranscodeProfile(NP_Mobile, 25.0, nullptr), InvalidArgument);
    EXPECT_EQ(logic.CreateDefaultTranscodeOutputSettings(_NP_count_, &settings), InvalidArgument);
    EXPECT_EQ(logic.CreateDefaultTranscodeOutputSettings(-5, &settings), InvalidArgument);
    EXPECT_EQ(logic.CreateDefaultTranscodeOutputSettings(NP_Mobile, nullptr), InvalidArgument);
    EXPECT_EQ(profile, nullptr);
    EXPECT_EQ(settings, nullptr);

    // Profile 11 is the last valid one; these factories need no engine.
    ASSERT_EQ(logic.CreateTranscodeProfile(NP_HEVC4K, 25.0, &profile), SUCCESS);
    ASSERT_EQ(logic.CreateDefaultTranscodeOutputSettings(NP_HEVC4K, &settings), SUCCESS);
    EXPECT_EQ(profile->GetRefCount(), 1);
    EXPECT_EQ(settings->GetRefCount(), 1);
    EXPECT_EQ(profile->Release(), 0);
    EXPECT_EQ(settings->Release(), 0);
}

TEST_F(EngineObject, PresetFactoryRefusesANullOutPointer) {
    EXPECT_EQ(logic.CreateCustomPresetFactory(nullptr), InvalidArgument);
    ICustomPresetFactory* factory = nullptr;
    ASSERT_EQ(logic.CreateCustomPresetFactory(&factory), SUCCESS);
    EXPECT_EQ(factory->GetRefCount(), 1);
    EXPECT_EQ(factory->AddRef(), 2);
    EXPECT_EQ(factory->AddRef(), 3);
    EXPECT_EQ(factory->Release(), 2);
    EXPECT_EQ(factory->Release(), 1);
    EXPECT_EQ(factory->Release(), 0);
}

TEST(ExportedFunctions, ForwardToTheProcessEngineObject) {
    ITranscodeProfile* profile = nullptr;
    EXPECT_EQ(::CreateTranscodeProfile(NP_HD720, 29.97, &profile), SUCCESS);
    ASSERT_NE(profile, nullptr);
    profile->Release();
    EXPECT_EQ(::CreateTranscodeProfile(static_cast<NorvProfile>(12), 29.97, &profile),
              InvalidArgument);
    EXPECT_EQ(::CreateCustomPresetFactory(nullptr), InvalidArgument);
    EXPECT_EQ(::InitTranscodeEngine(NORV_WTEXT(""), SLoggerParam(), nullptr, NORV_WTEXT("")),
              InvalidArgument);
    EXPECT_EQ(&GetTranscoderLogic(), &GetTranscoderLogic());
}

// Counts destructions so the holders' reference handling can be observed.
class Counted : public nvtl::IRefCounted {
public:
    explicit Counted(int* destroyed) : destroyed_(destroyed) {}
    ~Counted() override { ++*destroyed_; }
    int32_t AddRef() override { return ++count_; }
    int32_t Release() override {
        if (--count_ > 0) {
            return count_;
        }
        delete this;
        return 0;
    }
    int32_t GetRefCount() override { return count_; }

private:
    int32_t count_ = 0;
    int* destroyed_;
};

TEST(RefCountedPtr, HoldersAddAndReleaseReferences) {
    int destroyed = 0;
    auto* object = new Counted(&destroyed);
    {
        nvtl::RefCountedPtr<Counted> first(object);
        EXPECT_EQ(object->GetRefCount(), 1);
        std::vector<nvtl::RefCountedPtr_STLSafe<Counted>> list;
        list.push_back(first);
        list.push_back(first);
        EXPECT_EQ(object->GetRefCount(), 3);
        list.erase(list.begin());
        EXPECT_EQ(object->GetRefCount(), 2);
        Counted* out = nullptr;
        first.CopyTo(&out);
        EXPECT_EQ(out, object);
        EXPECT_EQ(object->GetRefCount(), 3);
        out->Release();
        first.CopyTo(nullptr);
        first = first.get(); // self-assignment keeps the object alive
        EXPECT_EQ(object->GetRefCount(), 2);
        list.clear();
        EXPECT_EQ(destroyed, 0);
    }
    EXPECT_EQ(destroyed, 1);

    nvtl::RefCountedPtr<Counted> empty;
    Counted* out = object; // must be overwritten with null
    empty.CopyTo(&out);
    EXPECT_EQ(out, nullptr);
}

} // namespace
