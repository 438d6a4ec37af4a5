// Dropped file lists: RFC 2483 text/uri-list with RFC 3986 / RFC 8089 file
// URIs, decoded to the local paths the window opens.
#include "platform/drop_files.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using Paths = std::vector<std::string>;

// RFC 2483 section 5: comments and non-file URIs are not files.
TEST(UriList, SkipsCommentsAndOtherSchemes) {
  EXPECT_EQ(DecodeUriList("# urn:isbn:0-201-08372-8\r\n"
                          "http://www.huh.org/books/foo.html\r\n"
                          "file:///home/me/a.mid\r\n"),
            Paths{"/home/me/a.mid"});
}

TEST(UriList, KeepsOrderAndTakesTheFirst) {
  const char *szList = "file:///m/one.mid\r\nfile:///m/two.mid\r\n";
  EXPECT_EQ(DecodeUriList(szList), (Paths{"/m/one.mid", "/m/two.mid"}));
  EXPECT_EQ(FirstDroppedFile(szList), "/m/one.mid");
  EXPECT_EQ(FirstDroppedFile("# nothing here\r\n"), "");
}

// RFC 3986 2.1: %XX is one byte; UTF-8 names arrive as escaped bytes.
TEST(UriList, DecodesPercentEscapes) {
  EXPECT_EQ(FirstDroppedFile("file:///tmp/My%20Songs/%E6%9B%B2.mid"), "/tmp/My Songs/曲.mid");
  EXPECT_EQ(FirstDroppedFile("file:///a/%23b%3Fc%25.mid"), "/a/#b?c%.mid");
  EXPECT_EQ(PercentDecode("%7euser%7E"), "~user~");
}

TEST(UriList, LeavesMalformedEscapes) {
  EXPECT_EQ(PercentDecode("100%"), "100%");
  EXPECT_EQ(PercentDecode("a%2"), "a%2");
  EXPECT_EQ(PercentDecode("%G1%zz"), "%G1%zz");
}

// RFC 8089 appendix B: "file:/path", "file:///path" and "file://localhost/path"
// are the same local file; another host's file is not ours to open.
TEST(UriList, TakesLocalHostFormsOnly) {
  EXPECT_EQ(DecodeUriList("file:/etc/fstab\r\n"
                          "FILE://localhost/etc/fstab\r\n"
                          "file://LOCALHOST/etc/fstab\r\n"
                          "file://host.example.com/etc/fstab\r\n"),
            (Paths{"/etc/fstab", "/etc/fstab", "/etc/fstab"}));
}

TEST(UriList, CutsQueryAndFragment) {
  EXPECT_EQ(FirstDroppedFile("file:///x/song.mid?v=1#top"), "/x/song.mid");
}

// Lines may end in LF only, the last one without any; a bare path stands.
TEST(UriList, ToleratesLooseLineEndsAndBarePaths) {
  EXPECT_EQ(DecodeUriList("file:///a.mid\n/b c.mid\n\nfile:///c.mid"),
            (Paths{"/a.mid", "/b c.mid", "/c.mid"}));
  EXPECT_EQ(DecodeUriList(std::string("file:///d.mid\r\n\0", 16)), Paths{"/d.mid"});
}
