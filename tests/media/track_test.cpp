// Artist, song and album of a track whose player tags no artist: file names and stream titles.
#include <gtest/gtest.h>

#include <string>

#include "media/title_split.h"

namespace quorvel {
namespace {

using namespace std::string_literals;

// "artist|song", or "-" for no track.
std::string Split(const std::string& title, const std::string& url = {}) {
  const auto track = TrackFromTags({"", title, "", url});
  return track ? track->artist + "|" + track->song : "-";
}

TEST(TrackFromTags, SplitsAnUntaggedTitleAtItsFirstDash) {
  const std::pair<std::string, std::string> titles[] = {
      {"Band - Tune", "Band|Tune"},  // a stream title
      {"Band - Tune - Live", "Band|Tune - Live"},
      {"Rock-It -Tune", "|Rock-It -Tune"},  // no " - ": the song, whole
      {"Just A Title", "|Just A Title"},
      {" - Tune", "|Tune"},
      {"Band - ", "Band|"},
      {" - ", "-"},  // nothing left: no track, so the last one stays in force
      {"", "-"},
      {"Tune.mp3", "|Tune.mp3"}};  // no URL says it is a file name
  for (const auto& [title, split] : titles) EXPECT_EQ(Split(title), split) << title;
  // A tagged artist keeps the title whole; the album comes along either way.
  const auto tagged = TrackFromTags({"Band", "Tune - Live", "Album", "file:///a/Tune%20-%20Live"});
  ASSERT_TRUE(tagged);
  EXPECT_EQ(tagged->artist + "|" + tagged->song + "|" + tagged->album, "Band|Tune - Live|Album");
  EXPECT_EQ(TrackFromTags({"", "Band - Tune", "Album", ""})->album, "Album");
  // Bytes that are not UTF-8 and very long titles are carried through and split all the same.
  EXPECT_EQ(Split("B\xff\0nd - T\xc3"s), "B\xff\0nd|T\xc3"s);
  const std::string tenThousand(10'000, 'x');
  EXPECT_EQ(Split(tenThousand + " - " + tenThousand), tenThousand + "|" + tenThousand);
  EXPECT_EQ(Split(std::string(10'000, '-')), "|" + std::string(10'000, '-'));
}

TEST(TrackFromTags, DropsTheExtensionOnlyOfATitleThatIsTheFilesName) {
  const std::tuple<std::string, std::string, std::string> files[] = {
      {"Some Artist - Some Song.ogg", "file:///music/Some%20Artist%20-%20Some%20Song.ogg",
       "Some Artist|Some Song"},
      {"Sigur Rós - Hoppípolla.flac", "file:///m/Sigur%20R%C3%B3s%20-%20Hopp%c3%adpolla.flac",
       "Sigur Rós|Hoppípolla"},
      {"a - b.MP3", "FILE://localhost/m/a%20-%20b.MP3", "a|b"},
      {"a - b.m4a", "file:/a%20-%20b.m4a?x#y", "a|b"},
      {"100% - b.ogg", "file:///100%%20-%20b.ogg", "100%|b"},   // a stray "%" stays
      {"a - b.mpeg4", "file:///a%20-%20b.mpeg4", "a|b.mpeg4"},  // five characters: kept
      {"a - b.o-g", "file:///a%20-%20b.o-g", "a|b.o-g"},
      {"a - b.", "file:///a%20-%20b.", "a|b."},
      {".ogg", "file:///.ogg", "|.ogg"},                         // nothing before the dot
      {"a - b.ogg", "file:///x/a%20-%20b.ogg.part", "a|b.ogg"},  // not the file's name
      {"a - b.ogg", "http://host/a%20-%20b.ogg", "a|b.ogg"},     // not a file
      {"a - b.ogg", "file:///a - b.ogg/", "a|b.ogg"}};
  for (const auto& [title, url, split] : files) EXPECT_EQ(Split(title, url), split) << url;
  EXPECT_EQ(FileNameOfUrl("file:name%2Fpart.ogg"), "name/part.ogg");  // decoded after the cut
  EXPECT_EQ(FileNameOfUrl("file:///a/%ff%zz"), "\xff%zz");
  EXPECT_EQ(FileNameOfUrl("fil"), "");
}

}  // namespace
}  // namespace quorvel
