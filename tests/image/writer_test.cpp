// The writer object: which filter each identifier passes.
#include "image/writer.h"

#include <gtest/gtest.h>

namespace tavrine {
namespace {

TEST(WriterProperties, PrimaryValuesPassTheirFilterJolietValuesAreKept) {
  struct Property {
    const char* name;
    void (clsISOWriter::*set)(bool, std::u16string_view);
    std::u16string (clsISOWriter::*get)(bool) const;
    std::u16string primary;  // "my disc%1" after the d- or a-character filter
  };
  const std::u16string joliet = u"any %case \u00e9\u4e2d";
  for (const Property& p : {
           Property{"VolumeID", &clsISOWriter::VolumeID, &clsISOWriter::VolumeID, u"MY_DISC1"},
           Property{"VolumeSetID", &clsISOWriter::VolumeSetID, &clsISOWriter::VolumeSetID,
                    u"MY_DISC1"},
           Property{"SystemID", &clsISOWriter::SystemID, &clsISOWriter::SystemID, u"my disc1"},
           Property{"ApplicationID", &clsISOWriter::ApplicationID, &clsISOWriter::ApplicationID,
                    u"my disc1"},
           Property{"PublisherID", &clsISOWriter::PublisherID, &clsISOWriter::PublisherID,
                    u"my disc1"},
           Property{"DataPreparerID", &clsISOWriter::DataPreparerID, &clsISOWriter::DataPreparerID,
                    u"my disc1"},
       }) {
    clsISOWriter writer;
    (writer.*p.set)(true, joliet);
    (writer.*p.set)(false, u"my disc%1");
    EXPECT_EQ((writer.*p.get)(false), p.primary) << p.name;
    EXPECT_EQ((writer.*p.get)(true), joliet) << p.name;
  }
}

}  // namespace
}  // namespace tavrine
