#pragma once
// Keeper of one open archive's directory: finds and checks the end records, reads the central
// entries, detects a stub in front of the archive, rebuilds a damaged archive's directory from
// its local headers, and writes the directory back.
#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "updater/ziparchive/zadirarray.h"
#include "updater/ziparchive/zarecords.h"
#include "updater/ziparchive/zaspanning.h"
#include "updater/ziparchive/zastreams.h"

namespace ziparchive {

class TZABaseArchiver;

class TZADirManager {
 public:
  // archiver may be null: the stream is then read on its own, without volumes, with the
  // component's default options.
  TZADirManager(TZAStream* stream, TZABaseArchiver* archiver, bool creating);
  ~TZADirManager() = default;
  TZADirManager(const TZADirManager&) = delete;
  TZADirManager& operator=(const TZADirManager&) = delete;

  TZAStream* ArchiveStream;
  bool IsCustomStream;
  TZABaseArchiver* Archiver;
  TZADirArray BackupDir;
  TZADirArray CurrentDir;
  std::string ArchiveComment;
  std::array<uint8_t, kZip64LocatorSize> Zip64Locator{};
  std::array<uint8_t, kZip64EndRecordSize> Zip64EndRecord{};
  std::array<uint8_t, kEndRecordSize> EndRecord{};
  int64_t StubSize = 0;
  bool IsZip64 = false;
  int64_t CentralDirOffset = 0;
  // The archive had no end record: the entries were rebuilt from its local headers, and an
  // entry cut short (or a damaged header) may be missing.
  bool IsRebuilt = false;
  // Of a rebuilt directory: where the first local header left out stands (-1 for none).
  int64_t FirstHeaderLeftOut = -1;

  // True when an end record is there, or in any case while damaged archives are opened.
  bool ProbeEndRecord();
  // The end record search: the last consistent record whose comment reaches the end of the
  // stream; also reads ArchiveComment.
  bool ReadEndOfCentralDir(std::array<uint8_t, kEndRecordSize>& record, int64_t& offset,
                           uint32_t signature = kEndRecordSignature);
  void ReadCentralDir();
  void ResetEndRecord();
  void CopySfxStub();
  void DetectStubSize(int64_t defaultSize);
  // First offset at or after position where the bytes stand; position restored.
  static bool FindSignatureInStream(TZAStream& stream, int64_t& position, int length,
                                    const uint8_t* signature);
  int64_t FindNextLocalHeader(int64_t start);
  void SwitchToVolume(const TZAVolumeNumberInfo& info);
  // moved: new local header offsets written in place of the entries' own (a commit's).
  void WriteCentralDir(TZAStream* stream = nullptr, const TZAMovedOffsets* moved = nullptr);

  // Decoded views of the raw records above.
  TZAEndRecord EndRecordFields() const;
  TZAZip64EndRecord Zip64EndRecordFields() const;
  TZAZip64Locator Zip64LocatorFields() const;

  // Bytes scanned past the recorded first header when neither it nor the repaired offset
  // holds the first entry's local header.
  static constexpr int64_t kStubScanLimit = 4 << 20;

 private:
  bool oemFileNames() const;
  bool openDamaged() const;
  TZASpanningMode spanningMode() const;
  bool consistentEndRecord(int64_t offset, const TZAEndRecord& r);
  void readEntries(int64_t start, int64_t size, int64_t count, TZAVolumeNumberInfo& volume);
  bool localHeaderMatches(int64_t position, const TDirItem& item);
  void shiftOffsets(int64_t delta);
  void rebuildFromLocalHeaders();
  void readScanned(int64_t position, void* buffer, int64_t count);
  int64_t findDataDescriptor(int64_t dataStart, TDirItem& item);
  void writeBytes(TZAStream*& target, TZAVolumeNumberInfo& volume, const void* data, int64_t count,
                  int64_t reserve, TZAStream* cache);
  int64_t storedDirOffset_ = 0;
  // Last block read by FindNextLocalHeader, kept during a rebuild only.
  bool keepScanBlock_ = false;
  int64_t scanBlockStart_ = -1;
  std::vector<uint8_t> scanBlock_;
  // Data descriptors of the stream during a rebuild: (start of the data they close, position).
  bool descriptorsIndexed_ = false;
  std::vector<std::pair<int64_t, int64_t>> descriptors_;
};

}  // namespace ziparchive
