// Feature files: the block check over the bytes, the file read, and every
// item of the kind it holds.
#include "fuzz/fuzz.h"
#include "processing/features.h"

FUZZ_TARGET(features) {
  vesk::checkFeatureBlock(data, static_cast<int64_t>(size));
  fuzz::MemFile file(data, size);
  vesk::FeatureSet *set = vesk::getFeature(file.path(), nullptr);
  if (!set) return 0;
  const int count = vesk::getFeatureInfo(set, 1);
  const int kind = vesk::getFeatureInfo(set, 5);
  vesk::EigenExtra extra;
  if (kind == vesk::FEATURE_EIGEN) vesk::getEigenExtra(set, &extra);
  for (int i = 0; i < count; i++) {
    if (kind == vesk::FEATURE_STAT) {
      vesk::StatItem item;
      vesk::readStatItem(set, i, &item);
    } else if (kind == vesk::FEATURE_EIGEN) {
      vesk::EigenItem item;
      vesk::getEigenItem(set, i, &item);
    } else {
      vesk::getFeatureItem(set, i);
    }
  }
  vesk::freeFeature(set);
  return 0;
}
