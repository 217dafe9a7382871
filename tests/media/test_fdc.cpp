// The disc controller driven through its registers as the CPC's disc ROM drives it.
#include <sstream>

#include "core/host.h"
#include "video/raster.h"

#include "disc_support.h"

using namespace disc;

namespace {
Bytes slice(const Bytes& v, size_t at, size_t n) { return Bytes(v.begin() + at, v.begin() + at + n); }
// Sector `index` of track t of the standard test disc (tracks of 0x1300 bytes).
size_t boulder_sector(int t, int index) { return 256 + t * 0x1300 + 256 + index * 512; }
}  // namespace

class FdcTest : public DiscTest {};

TEST_F(FdcTest, RealImageReadsLikeTheDiscRom) {
  REQUIRE_ASSET(disks_dir() + "/boulderdash_cpc.dsk");
  std::string path = copy_disk("boulderdash_cpc.dsk");
  const Bytes file = file_bytes(path);
  insert(0, path);
  command({0x03, 0xA1, 0x03});  // SPECIFY as the disc ROM sets it up
  EXPECT_EQ(fdc_read_status(), 0x80);
  EXPECT_EQ(seek(0, -1), (Bytes{0x20, 0}));
  EXPECT_EQ(seek(0, 2), (Bytes{0x20, 2}));
  Transfer t = read(0, 2, 0, 0xC1, 0xC9);
  EXPECT_EQ(t.data, slice(file, boulder_sector(2, 0), 9 * 512));
  EXPECT_EQ(t.result, (Bytes{0x40, 0x80, 0x00, 2, 0, 0xC9, 2})) << "end of cylinder after EOT";
  t = read(0, 2, 0, 0xC5, 0xC5);
  EXPECT_EQ(t.data, slice(file, boulder_sector(2, 4), 512)) << "EOT = R: one sector";
  EXPECT_EQ(t.result, (Bytes{0x40, 0x80, 0x00, 2, 0, 0xC5, 2}));
}

TEST_F(FdcTest, RotationalModel) {
  auto image = build_image(true, 40, 1, [](int t, int s) {
    if (t > 0) return data_format_track(t, s);
    return TrackSpec{{{3, 0, 512}, {1, 0, 512}, {4, 0, 512}, {2, 0, 512}}};
  });
  insert(0, put_image("a.dsk", image));
  // READ ID holds RQM clear for 16976 / S status reads unless it stops at the index.
  command({0x4A, 0x00});
  int held = 0;
  while (!(fdc_read_status() & MSR_RQM) && held < 100000) held++;
  EXPECT_EQ(held, 16976 / 4);
  EXPECT_EQ(results(), (Bytes{0, 0, 0, 0, 0, 3, 2}));
  // A missing sector ends after one revolution; the search restarts at the index hole.
  Transfer t = read(0, 0, 0, 9, 9);
  EXPECT_TRUE(t.data.empty());
  EXPECT_EQ(t.result.at(0), 0x40);
  EXPECT_EQ(t.result.at(1), 0x04);
  command({0x4A, 0x00});
  EXPECT_FALSE(fdc_read_status() & MSR_RQM);
  EXPECT_EQ(results().at(5), 3);
  read_id(0), read_id(0);
  command({0x4A, 0x00});  // the last sector: back at the index, no hold
  EXPECT_TRUE(fdc_read_status() & MSR_RQM);
  EXPECT_EQ(results().at(5), 2);
  // Seeking turns the disc: 10 tracks of 9 sectors pass 10 × 11 × 9 / 200 = 4 sectors,
  // 20 tracks a whole revolution.
  seek(0, 1);
  seek(0, 11);
  EXPECT_EQ(read_id(0).at(5), 0xC5);
  seek(0, 31);
  EXPECT_EQ(read_id(0).at(5), 0xC6);
}

TEST_F(FdcTest, CommandPhaseAndInterrupts) {
  auto image = build_image(false, 10, 1, data_format_track);
  // Reading the data register while a command byte is awaited feeds a 0 byte (code 0,
  // dropped) and reads 0xFF; unknown codes are dropped; bits above the code are ignored.
  EXPECT_EQ(fdc_read_data(), 0xFF);
  EXPECT_EQ(fdc_read_status(), 0x80);
  fdc_write_data(0x1F);
  EXPECT_EQ(fdc_read_status(), 0x80);
  fdc_write_data(0xE8);
  EXPECT_EQ(results(), (Bytes{0x80})) << "SENSE INTERRUPT STATUS with nothing pending";
  // SEEK: drive busy until its interrupt is sensed.
  insert(0, put_image("a.dsk", image));
  command({0x0F, 0x00, 5});
  EXPECT_EQ(fdc_read_status(), 0x81);
  command({0x08});
  EXPECT_EQ(results(), (Bytes{0x20, 5}));
  EXPECT_EQ(fdc_read_status(), 0x80);
  EXPECT_EQ(seek(0, 12), (Bytes{0x60, 5})) << "beyond the last track the head stays";
  EXPECT_EQ(read_id(0).at(3), 5);
  EXPECT_EQ(seek(1, 3), (Bytes{0x69, 0})) << "empty drive B is not ready";
  // A write in the result phase is taken as a read.
  command({0x04, 0x00});
  EXPECT_EQ(fdc_read_status(), 0xD0);
  fdc_write_data(0x55);
  EXPECT_EQ(fdc_read_status(), 0x80);
  // SCANs end at their first data byte.
  command({0x1D, 0x01, 0, 0, 0xC1, 2, 0xC1, 0x2A, 1});
  EXPECT_EQ(fdc_read_status(), 0xB0);
  fdc_write_data(0x12);
  EXPECT_EQ(results(), (Bytes{0x01, 0, 0, 0, 0, 0, 0}));
  // Ejecting reports a status change once.
  drive_eject(0);
  command({0x08});
  EXPECT_EQ(results(), (Bytes{0x08, 5}));
  command({0x08});
  EXPECT_EQ(results(), (Bytes{0x80}));
}

// Head stepping and head loading take their time in emulated time. Only a host that
// shows the machine in real time (the window, the headless runner with --realtime)
// waits them out as well; the headless host is never asked to sleep.
TEST_F(FdcTest, DriveDelaysSleepOnlyOnARealTimeHost) {
  static int sleeps;
  static unsigned slept_ms;
  sleeps = 0;
  slept_ms = 0;
  auto count_sleep = [](unsigned ms) {
    ++sleeps;
    slept_ms += ms;
  };
  host_install_headless();
  if (host.delay_ms) host.delay_ms = count_sleep;  // what the headless host would sleep
  set_setting(kw::AMSDOS_SPEEDUP, 0);
  insert(0, put_image("a.dsk", build_image(false, 40, 1, data_format_track)));
  command({0x03, 0xA1, 0x03});  // SPECIFY: 6 ms per step, head load 1 ms
  const uint64_t start = microsecond_counter;
  EXPECT_EQ(seek(0, 39), (Bytes{0x20, 39}));
  EXPECT_GE(microsecond_counter - start, 39u * 6 * 1100);
  EXPECT_EQ(read(0, 39, 0, 0xC1, 0xC1).result.at(0), 0x40);
  EXPECT_EQ(sleeps, 0);

  host.delay_ms = count_sleep;  // a real-time host
  EXPECT_EQ(seek(0, 0), (Bytes{0x20, 0}));
  EXPECT_EQ(slept_ms, 39u * 6);
  host_install_headless();
}

TEST_F(FdcTest, MotorOffOrEmptyDriveIsNotReady) {
  insert(0, put_image("a.dsk", build_image(false, 2, 1, data_format_track)));
  command({0x04, 0x00});
  EXPECT_EQ(results(), (Bytes{0x30}));
  fdc_write_motor(0);
  command({0x04, 0x00});
  EXPECT_EQ(results(), (Bytes{0x10}));
  EXPECT_EQ(read(0, 0, 0, 0xC1, 0xC1).result.at(0), 0x48);
  EXPECT_EQ(read_id(0).at(0), 0x48);
  fdc_write_motor(1);
  EXPECT_EQ(read(1, 0, 0, 0xC1, 0xC1).result.at(0), 0x49);
  std::ostringstream out;
  fdc_dump(out);
  EXPECT_EQ(out.str(), "FDC :  motor = 1\n");
  fdc_reset(ResetKind::POWER_ON);
  EXPECT_EQ(fdc_motor_state(), 0);
  EXPECT_TRUE(drive_has_disc(0)) << "a reset keeps the disc";
}

TEST_F(FdcTest, WritesGoToTheSectorsPlaceOnly) {
  REQUIRE_ASSET(disks_dir() + "/boulderdash_cpc.dsk");
  std::string path = copy_disk("boulderdash_cpc.dsk");
  const Bytes before = file_bytes(path);
  insert(0, path);
  seek(0, 7);
  Bytes data(1024);
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<uint8_t>(i * 5 + 1);
  Transfer w = write(0, 7, 0, 0xC3, 0xC4, data);
  EXPECT_EQ(w.data.size(), 1024u);
  EXPECT_EQ(w.result, (Bytes{0x40, 0x80, 0x00, 7, 0, 0xC4, 2}));
  EXPECT_EQ(read(0, 7, 0, 0xC3, 0xC4).data, data);
  drive_eject(0);
  Bytes expected = before;
  std::copy(data.begin(), data.end(), expected.begin() + boulder_sector(7, 2));
  EXPECT_TRUE(file_bytes(path) == expected) << "only the two sectors changed";

  // With write protection nothing is written.
  set_setting(kw::DRIVE_A_WRITEPROT, 1);
  insert(0, path);
  command({0x04, 0x00});
  EXPECT_EQ(results(), (Bytes{0x60})) << "ready, write protected, head on track 7";
  w = write(0, 0, 0, 0xC1, 0xC1, Bytes(512, 0x11));
  EXPECT_TRUE(w.data.empty());
  EXPECT_EQ(w.result.at(1), 0x02);
  command({0x4D, 0x00, 2, 9, 0x52, 0xE5});
  EXPECT_EQ(results().at(1), 0x02);
  drive_eject(0);
  EXPECT_TRUE(file_bytes(path) == expected);
}

// Writes into an extended image whose sectors have different lengths (one longer than
// a transfer, a track without bytes before another, IDs out of order) land at exactly
// their places: the file equals an image built with the written data in those sectors.
TEST_F(FdcTest, ExtendedImageWithMixedSectorSizesIsWrittenByteExact) {
  const std::vector<std::vector<SectorSpec>> layout = {
      {{1, 0, 256}, {3, 0, 128}, {2, 0, 1024}, {4, 0, 512}},  // track 0, sides 0 and 1
      {{1, 0, 512}, {2, 0, 2048}},
      {},  // track 1 side 0: unformatted
      {{5, 0, 9000}, {6, 0, 256}},
      {{0x41, 0, 512}},
      {{7, 0, 128}, {8, 0, 4096}},
  };
  auto spec = [&layout](int t, int s) {
    TrackSpec ts{layout[t * 2 + s]};
    if (ts.sectors.empty()) ts.table_size = 0;
    return ts;
  };
  auto written = [](int t, int s, int r) {
    return (t == 0 && s == 0 && (r == 2 || r == 3)) || (t == 0 && s == 1 && r == 2) || (t == 1 && s == 1) ||
           (t == 2 && s == 1 && r == 8);
  };
  auto data_of = [](int t, int s, int r, int j) { return static_cast<uint8_t>((j * 7 + r + t * 3 + s * 5) ^ 0x5A); };
  // The data of sectors {R, length} of track t, side s, one after another.
  auto sector_data = [&](int t, int s, std::initializer_list<std::pair<int, int>> sectors) {
    Bytes bytes;
    for (auto [r, length] : sectors)
      for (int j = 0; j < length; j++) bytes.push_back(data_of(t, s, r, j));
    return bytes;
  };
  const std::string path = put_image("mixed.dsk", build_image(true, 3, 2, spec));
  const Bytes expected = build_image(true, 3, 2, spec, [&](int t, int s, int r, int j) {
    // Only the first 8192 bytes of a longer sector are transferred and written.
    return written(t, s, r) && j < FDC_SECTOR_BUFFER_SIZE ? data_of(t, s, r, j) : pattern(t, s, r, j);
  });
  insert(0, path);
  EXPECT_EQ(write(0x00, 0, 0, 2, 3, sector_data(0, 0, {{2, 1024}, {3, 128}})).result.at(0), 0x40);
  EXPECT_EQ(write(0x04, 0, 1, 2, 2, sector_data(0, 1, {{2, 2048}})).result.at(1), 0x80);
  seek(0, 1);
  const Bytes long_then_short = sector_data(1, 1, {{5, FDC_SECTOR_BUFFER_SIZE}, {6, 256}});
  EXPECT_EQ(write(0x04, 1, 1, 5, 6, long_then_short).data.size(), long_then_short.size());
  seek(0, 2);
  write(0x04, 2, 1, 8, 8, sector_data(2, 1, {{8, 4096}}));
  drive_eject(0);
  EXPECT_TRUE(file_bytes(path) == expected);
}

TEST_F(FdcTest, DeletedDataMarks) {
  auto image = build_image(true, 1, 1, [](int, int) { return TrackSpec{{{1, 0, 512}, {2, 0x40, 512}, {3, 0, 512}}}; });
  insert(0, put_image("a.dsk", image));
  // Track 0, side 0, N = 2: ST0 0x40 (the command ended), then ST1, ST2, R.
  auto ended = [](uint8_t st1, uint8_t st2, uint8_t r) { return Bytes{0x40, st1, st2, 0, 0, r, 2}; };
  // WRITE DELETED DATA writes the data but no mark.
  EXPECT_EQ(write(0, 0, 0, 1, 1, Bytes(512, 0x77), 0x49).result, ended(0x80, 0x00, 1));
  Transfer r = read(0, 0, 0, 1, 1);
  EXPECT_EQ(r.data, Bytes(512, 0x77));
  EXPECT_EQ(r.result, ended(0x80, 0x00, 1));
  // READ DATA transfers a marked sector whole, then ends (R on the sector after it).
  r = read(0, 0, 0, 1, 3);
  EXPECT_EQ(r.data.size(), 1024u);
  EXPECT_EQ(r.result, ended(0x00, 0x40, 3));
  // READ DELETED DATA: the marked sector reads normally, an unmarked one sets the mark.
  EXPECT_EQ(read(0, 0, 0, 2, 2, 0x4C).result, ended(0x80, 0x00, 2));
  EXPECT_EQ(read(0, 0, 0, 3, 3, 0x4C).result, ended(0x80, 0x40, 3));
}

TEST_F(FdcTest, FormatTrack) {
  auto image = build_image(false, 4, 1, data_format_track);
  const size_t track_size = image[0x32] | (image[0x33] << 8);
  std::string path = put_image("a.dsk", image);
  insert(0, path);
  seek(0, 2);
  command({0x4D, 0x00, 2, 9, 0x52, 0xE5});
  for (int i = 0; i < 9; i++) command({2, 0, static_cast<uint8_t>(0x41 + i), 2});
  EXPECT_EQ(results().at(0), 0x00);
  EXPECT_EQ(read(0, 2, 0, 0x45, 0x45).data, Bytes(512, 0xE5));
  Bytes after = file_bytes(path);
  ASSERT_EQ(after.size(), image.size());
  const uint8_t* block = after.data() + 256 + 2 * track_size;
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block), 12), "Track-Info\r\n");
  EXPECT_EQ(Bytes(block + 0x10, block + 0x18), (Bytes{2, 0, 0, 0, 2, 9, 0x52, 0xE5}));
  EXPECT_EQ(block[0x18 + 8 * 3 + 2], 0x44);
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 256 + 2 * track_size, image.begin()));
  EXPECT_TRUE(std::equal(after.begin() + 256 + 3 * track_size, after.end(), image.begin() + 256 + 3 * track_size));

  // SC = 25 formats 19 sectors: 76 ID bytes are taken.
  command({0x4D, 0x00, 0, 25, 0x20, 0x00});
  size_t taken = 0;
  while ((fdc_read_status() & MSR_EXM) && taken < 100) fdc_write_data(static_cast<uint8_t>(++taken));
  EXPECT_EQ(taken, 76u);
  EXPECT_EQ(results().at(0), 0x00);
  EXPECT_EQ(file_bytes(path)[256 + 2 * track_size + 0x15], 19);
  // Sectors that do not fit the track size are refused, and so is an extended image.
  Bytes snapshot = file_bytes(path);
  command({0x4D, 0x00, 3, 9, 0x20, 0x00});
  for (int i = 0; i < 36; i++) fdc_write_data(0);
  EXPECT_EQ(results().at(0), 0x40);
  EXPECT_EQ(file_bytes(path), snapshot);
  auto ext = build_image(true, 1, 1, data_format_track);
  insert(1, put_image("e.dsk", ext));
  command({0x4D, 0x01, 2, 1, 0x20, 0x00});
  command({0, 0, 1, 2});
  EXPECT_EQ(results().at(0), 0x41);
  EXPECT_EQ(file_bytes(dir / "e.dsk"), ext);
}

TEST_F(FdcTest, SideSelection) {
  auto expect_side = [](const Transfer& t, int side) {
    ASSERT_EQ(t.data.size(), 512u);
    EXPECT_EQ(t.data[300], pattern(1, side, 0xC3, 300));
  };
  insert(0, put_image("two.dsk", build_image(false, 2, 2, data_format_track)));
  seek(0, 1);
  expect_side(read(0x04, 1, 1, 0xC3, 0xC3), 1);
  expect_side(read(0x00, 1, 0, 0xC3, 0xC3), 0);
  set_setting(kw::DRIVE_A_SIDE, 1);
  insert(0, (dir / "two.dsk").string());
  expect_side(read(0x00, 1, 1, 0xC3, 0xC3), 1);
  // A one-sided image ignores HD; ST0 still reports it.
  insert(1, put_image("one.dsk", build_image(false, 2, 1, data_format_track)));
  seek(1, 1);
  Transfer t = read(0x05, 1, 0, 0xC3, 0xC3);
  expect_side(t, 0);
  EXPECT_EQ(t.result.at(0), 0x45);
}

TEST_F(FdcTest, OddTrackTables) {
  // A track block claiming 20 sectors has one.
  auto image = build_image(true, 3, 1, [](int t, int s) {
    TrackSpec ts = data_format_track(t, s);
    if (t == 0) ts.stored_count = 20;
    if (t == 1) ts.sectors.clear(), ts.table_size = 0;  // unformatted: no bytes in the file
    return ts;
  });
  ASSERT_EQ(image.size(), 256u + 2 * (256 + 9 * 512));
  insert(0, put_image("a.dsk", image));
  EXPECT_EQ(read_id(0).at(5), 0xC1);
  EXPECT_EQ(read_id(0).at(5), 0xC1);
  EXPECT_EQ(read(0, 0, 0, 0xC2, 0xC2).result.at(1), 0x04);
  // The track after the empty one starts where it would have.
  EXPECT_EQ(seek(0, 2), (Bytes{0x20, 2}));
  EXPECT_EQ(read(0, 2, 0, 0xC4, 0xC4).data.at(7), pattern(2, 0, 0xC4, 7));
  EXPECT_EQ(seek(0, 1), (Bytes{0x20, 1}));
  EXPECT_EQ(read_id(0).at(1), 0x01);
  EXPECT_EQ(read(0, 1, 0, 0xC1, 0xC1).result.at(1), 0x04);
  // A track the image claims but its file does not hold.
  image = build_image(false, 2, 1, data_format_track);
  image[0x30] = 3;
  insert(1, put_image("cut.dsk", image));
  seek(1, 2);
  EXPECT_EQ(read_id(1).at(1), 0x01);
}
