#include "host/passwords.h"

#include <gtest/gtest.h>

#include <string>

namespace rembiz::host {
namespace {

TEST(PasswordsTest, HashesAreSaltedAndVerifyOnlyTheirPassword) {
  const std::string a = HashPassword("s3cret pw");
  const std::string b = HashPassword("s3cret pw");
  // pbkdf2_sha256$<iterations>$<salt>$<hash>: a new salt each time, never the password.
  EXPECT_TRUE(a.starts_with("pbkdf2_sha256$"));
  EXPECT_NE(a, b);
  EXPECT_EQ(a.find("s3cret"), std::string::npos);
  EXPECT_TRUE(VerifyPassword("s3cret pw", a));
  EXPECT_TRUE(VerifyPassword("s3cret pw", b));
  for (const char* wrong : {"s3cret pw ", "S3cret pw", "s3cret", ""}) {
    EXPECT_FALSE(VerifyPassword(wrong, a)) << wrong;
  }
  // Passwords of any characters, empty ones included.
  EXPECT_TRUE(VerifyPassword("密码$\x01'", HashPassword("密码$\x01'")));
  EXPECT_TRUE(VerifyPassword("", HashPassword("")));
  EXPECT_FALSE(VerifyPassword("x", HashPassword("")));
}

TEST(PasswordsTest, StoredTextsThatAreNoHashNeverVerify) {
  const std::string good = HashPassword("pw");
  const size_t last = good.rfind('$');
  std::string flipped = good;
  flipped.back() = flipped.back() == '0' ? '1' : '0';
  for (const std::string& stored :
       {std::string(""), std::string("pw"), std::string("pbkdf2_sha256$pw"),
        "md5" + good.substr(good.find('$')), "pbkdf2_sha256$0" + good.substr(good.find('$', 14)),
        "pbkdf2_sha256$-5" + good.substr(good.find('$', 14)),
        "pbkdf2_sha256$999999999" + good.substr(good.find('$', 14)), good.substr(0, last + 1),
        good.substr(0, good.size() - 2), flipped, good + "00"}) {
    EXPECT_FALSE(VerifyPassword("pw", stored)) << stored;
    EXPECT_FALSE(VerifyPassword("", stored)) << stored;
  }
}

TEST(PasswordsTest, Sha256IsTheStandardDigest) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

}  // namespace
}  // namespace rembiz::host
