#include "TranscriptionInfrastructure/models/ModelCatalogue.h"
#include "support/TemporaryDirectory.h"
#include "support/TestPaths.h"

#include <gtest/gtest.h>

#include <fstream>

namespace tc {
namespace {

namespace fs = std::filesystem;
using Section = ModelCatalogue::Section;

TEST(ModelCatalogue, ReadsEachSectionWithItsChecksDefaultsAndHost)
{
    // Entries with their own checks, none, a digest too short, a file outside the models folder and no name.
    const ModelCatalogue catalogue(test::testDataDir() / "models" / "sections.json");
    ASSERT_TRUE(catalogue.loaded());

    const auto& speech = catalogue.models(Section::speech);
    ASSERT_EQ(speech.size(), 4U) << "the entry outside the models folder and the nameless one are skipped";
    EXPECT_EQ(speech[0], (CatalogueModel{"a", "ggml-a.bin", 10, ModelCheck::sha1,
                                         "abcdef0123456789abcdef0123456789abcdef01", true, false, false}));
    EXPECT_EQ(speech[1].check, ModelCheck::hostSha256);
    EXPECT_EQ(speech[1].bytes, 0U);
    EXPECT_TRUE(speech[1].digest.empty());
    // No check of its own: the section's algorithm, as catalogues had it before.
    EXPECT_EQ(speech[2].check, ModelCheck::sha1);
    // A digest that could never match is no check at all.
    EXPECT_EQ(speech[3].check, ModelCheck::none);
    EXPECT_EQ(catalogue.defaultModel(Section::speech)->name, "b");

    EXPECT_EQ(catalogue.defaultModel(Section::voice)->check, ModelCheck::sha256);
    EXPECT_FALSE(catalogue.defaultModel(Section::voice)->downloadable);

    EXPECT_EQ(catalogue.defaultName(Section::language), "l");
    // Neither its own check nor the section's: the digest it gives decides.
    EXPECT_EQ(catalogue.find(Section::language, "bare")->check, ModelCheck::sha256);
    const auto tuned = catalogue.find(Section::language, "i");
    ASSERT_TRUE(tuned);
    EXPECT_TRUE(tuned->instructionTuned && tuned->chatTemplate && tuned->downloadable);
    EXPECT_EQ(tuned->check, ModelCheck::none);
    EXPECT_FALSE(catalogue.find(Section::speech, "l")) << "sections do not mix";
}

TEST(ModelCatalogue, MissingOrMalformedFileIsEmpty)
{
    test::TemporaryDirectory dir;
    const fs::path broken = dir.path() / "broken.json";
    std::ofstream(broken) << "{ not json";
    for (const auto& file : {dir.path() / "missing.json", broken}) {
        const ModelCatalogue catalogue(file);
        EXPECT_FALSE(catalogue.loaded());
        EXPECT_TRUE(catalogue.models(Section::speech).empty());
        EXPECT_FALSE(catalogue.defaultModel(Section::language));
        EXPECT_EQ(catalogue.defaultName(Section::voice), "");
    }
}

TEST(ModelCatalogue, ShippedCatalogueGivesEverySpeechModelASizeCheckAndHost)
{
    const ModelCatalogue catalogue(fs::path(TC_TEST_DATA_DIR) / "models.json");
    ASSERT_TRUE(catalogue.loaded());
    const auto& speech = catalogue.models(Section::speech);
    ASSERT_GE(speech.size(), 17U);
    for (const auto& model : speech) {
        SCOPED_TRACE(model.name);
        EXPECT_NE(model.check, ModelCheck::none);
        EXPECT_TRUE(model.downloadable);
        EXPECT_EQ(model.fileName, "ggml-" + model.name + ".bin");
    }
    EXPECT_TRUE(catalogue.defaultModel(Section::speech));
    EXPECT_TRUE(catalogue.defaultModel(Section::voice));
    EXPECT_TRUE(catalogue.defaultModel(Section::language));
}

} // namespace
} // namespace tc
