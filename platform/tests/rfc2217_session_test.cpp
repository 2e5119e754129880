// The RFC 2217 client's protocol on its own: bytes from the server in, bytes to it out.
#include "platform/rfc2217_session.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace platform {
namespace {

using Bytes = std::vector<BYTE>;

Bytes Sent(Rfc2217Session& session) {
  Bytes out = session.Outgoing();
  session.Outgoing().clear();
  return out;
}

void Feed(Rfc2217Session& session, const Bytes& bytes) {
  session.Receive(bytes.data(), bytes.size());
}

Bytes Held(Rfc2217Session& session) {
  Bytes out(session.Input().Held());
  session.Input().Take(out.data(), static_cast<DWORD>(out.size()));
  return out;
}

// A session past the option agreement, its requests taken.
Rfc2217Session Agreed(std::size_t maxHeld = 1024) {
  Rfc2217Session session(maxHeld);
  session.Begin();
  Feed(session, {0xFF, 0xFD, 0x2C});
  std::string why;
  EXPECT_EQ(session.EndAgreement(300, why), ERROR_SUCCESS);
  Sent(session);
  return session;
}

TEST(Rfc2217SessionTest, OptionRequestsAreAnsweredOnceEach) {
  Rfc2217Session session(1024);
  session.Begin();
  EXPECT_EQ(Sent(session), (Bytes{0xFF, 0xFB, 0x00, 0xFF, 0xFD, 0x00, 0xFF, 0xFB, 0x2C}));
  struct Row {
    const char* what;
    Bytes in;
    Bytes out;
  };
  const Row rows[] = {
      {"DO COM-PORT: already offered", {0xFF, 0xFD, 0x2C}, {}},
      {"WILL SGA: wanted", {0xFF, 0xFB, 0x03}, {0xFF, 0xFD, 0x03}},
      {"WILL SGA again: no loop", {0xFF, 0xFB, 0x03}, {}},
      {"DO ECHO: refused", {0xFF, 0xFD, 0x01}, {0xFF, 0xFC, 0x01}},
      {"WONT SGA: agreed to stop", {0xFF, 0xFC, 0x03}, {0xFF, 0xFE, 0x03}},
      {"DONT BINARY: we stop", {0xFF, 0xFE, 0x00}, {0xFF, 0xFC, 0x00}},
      {"split across feeds", {0xFF}, {}},
      {"... its end", {0xFB, 0x03}, {0xFF, 0xFD, 0x03}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Feed(session, row.in);
    EXPECT_EQ(Sent(session), row.out);
  }
}

TEST(Rfc2217SessionTest, TheAgreementSaysWhyAServerServesNoPort) {
  struct Row {
    const char* what;
    Bytes in;
    DWORD error;
    std::string why;
    Bytes out;
  };
  const Row rows[] = {
      {"agreed: the line-state masks follow",
       {'h', 'i', 0xFF, 0xFD, 0x2C},
       ERROR_SUCCESS,
       "",
       {0xFF, 0xFA, 0x2C, 0x0A, 0x1E, 0xFF, 0xF0, 0xFF, 0xFA, 0x2C, 0x0B, 0x00, 0xFF, 0xF0}},
      {"refused",
       {0xFF, 0xFE, 0x2C},
       ERROR_NOT_SUPPORTED,
       "the server does not speak RFC 2217: it refused the COM-PORT-OPTION",
       {0xFF, 0xFC, 0x2C}},
      {"silent",
       {},
       ERROR_NOT_SUPPORTED,
       "the server does not speak RFC 2217: no telnet COM-PORT-OPTION agreement within 300 ms (a "
       "plain TCP port?)",
       {}},
      {"a text answer is quoted on one line",
       {'S', 'S', 'H', '-', '2', '.', '0', '\r', '\n', '\t', 'x'},
       ERROR_NOT_SUPPORTED,
       "the server does not speak RFC 2217: it answered \"SSH-2.0 x\"",
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Rfc2217Session session(1024);
    session.Begin();
    Sent(session);
    Feed(session, row.in);
    std::string why;
    EXPECT_EQ(session.EndAgreement(300, why), row.error);
    EXPECT_EQ(why, row.why);
    EXPECT_EQ(Sent(session), row.out);
    EXPECT_TRUE(Held(session).empty());  // nothing before the agreement is line data
  }
}

TEST(Rfc2217SessionTest, ABusyServerIsQuoted) {
  Rfc2217Session quiet(1024);
  quiet.Begin();
  EXPECT_EQ(quiet.TurnedAway(),
            "the server closed the connection at once: it is busy with another client (or "
            "serves no port here)");
  Rfc2217Session busy(1024);
  busy.Begin();
  Feed(busy, {'P', 'o', 'r', 't', ' ', 'a', 'l', 'r', 'e',  'a', 'd',
              'y', ' ', 'i', 'n', ' ', 'u', 's', 'e', '\r', '\n'});
  EXPECT_EQ(busy.TurnedAway(),
            "the server is busy with another client: it said \"Port already in use\"");
}

TEST(Rfc2217SessionTest, SettingsSendWhatChangedAndCheckTheAnswers) {
  Rfc2217Session session = Agreed();
  DCB dcb;
  dcb.BaudRate = 9600;
  ASSERT_EQ(session.BeginSettings(dcb), ERROR_SUCCESS);
  // The first settings send everything: speed, size, parity, stop bits, no flow control
  // either way, DTR and RTS off.
  EXPECT_EQ(Sent(session), (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x00, 0x25, 0x80, 0xFF,
                                  0xF0, 0xFF, 0xFA, 0x2C, 0x02, 0x08, 0xFF, 0xF0,  //
                                  0xFF, 0xFA, 0x2C, 0x03, 0x01, 0xFF, 0xF0,        //
                                  0xFF, 0xFA, 0x2C, 0x04, 0x01, 0xFF, 0xF0,        //
                                  0xFF, 0xFA, 0x2C, 0x05, 0x01, 0xFF, 0xF0,        //
                                  0xFF, 0xFA, 0x2C, 0x05, 0x0E, 0xFF, 0xF0,        //
                                  0xFF, 0xFA, 0x2C, 0x05, 0x09, 0xFF, 0xF0,        //
                                  0xFF, 0xFA, 0x2C, 0x05, 0x0C, 0xFF, 0xF0}));
  EXPECT_FALSE(session.SettingsAnswered());
  Feed(session, {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x00, 0x25, 0x80, 0xFF, 0xF0,  //
                 0xFF, 0xFA, 0x2C, 0x66, 0x08, 0xFF, 0xF0,                    //
                 0xFF, 0xFA, 0x2C, 0x67, 0x01, 0xFF, 0xF0});
  EXPECT_FALSE(session.SettingsAnswered());
  Feed(session, {0xFF, 0xFA, 0x2C, 0x68, 0x01, 0xFF, 0xF0});
  ASSERT_TRUE(session.SettingsAnswered());
  EXPECT_EQ(session.EndSettings(ERROR_SUCCESS, true), ERROR_SUCCESS);
  EXPECT_EQ(session.Settings().BaudRate, 9600u);

  // Only the speed changes; the server rounds 115200 to 112000, over 2 % off.
  dcb.BaudRate = 115200;
  ASSERT_EQ(session.BeginSettings(dcb), ERROR_SUCCESS);
  EXPECT_EQ(Sent(session), (Bytes{0xFF, 0xFA, 0x2C, 0x01, 0x00, 0x01, 0xC2, 0x00, 0xFF, 0xF0}));
  Feed(session, {0xFF, 0xFA, 0x2C, 0x65, 0x00, 0x01, 0xB5, 0x80, 0xFF, 0xF0});
  ASSERT_TRUE(session.SettingsAnswered());
  EXPECT_EQ(session.EndSettings(ERROR_SUCCESS, true), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(session.Settings().BaudRate, 9600u);

  // After a refusal the line is in doubt: everything goes again; unanswered, it times out.
  ASSERT_EQ(session.BeginSettings(dcb), ERROR_SUCCESS);
  EXPECT_EQ(Sent(session).size(), 59u);
  EXPECT_EQ(session.EndSettings(ERROR_SUCCESS, false), ERROR_TIMEOUT);

  // Flow control is the server's business.
  dcb.fOutxCtsFlow = true;
  EXPECT_EQ(session.BeginSettings(dcb), ERROR_INVALID_PARAMETER);
  EXPECT_TRUE(Sent(session).empty());
}

TEST(Rfc2217SessionTest, AReceivePurgeDropsDataUntilItsAnswer) {
  Rfc2217Session session = Agreed();
  Feed(session, {1, 2});
  EXPECT_FALSE(session.BeginPurge(0));
  ASSERT_TRUE(session.BeginPurge(PURGE_RXCLEAR));
  EXPECT_EQ(Sent(session), (Bytes{0xFF, 0xFA, 0x2C, 0x0C, 0x01, 0xFF, 0xF0}));
  Feed(session, {3, 4, 0xFF, 0xFA, 0x2C, 0x70, 0x01, 0xFF, 0xF0, 5});
  EXPECT_TRUE(session.PurgeAnswered());
  session.EndPurge(true);
  EXPECT_EQ(Held(session), (Bytes{5}));

  // Both ways, never answered: what came meanwhile is dropped, what follows is kept.
  ASSERT_TRUE(session.BeginPurge(PURGE_RXABORT | PURGE_TXCLEAR));
  EXPECT_EQ(Sent(session), (Bytes{0xFF, 0xFA, 0x2C, 0x0C, 0x03, 0xFF, 0xF0}));
  Feed(session, {6});
  session.EndPurge(false);
  Feed(session, {7});
  EXPECT_EQ(Held(session), (Bytes{7}));
}

TEST(Rfc2217SessionTest, LineEventsAndOverrunsBecomeErrorFlags) {
  Rfc2217Session session = Agreed(4);
  struct Row {
    const char* what;
    Bytes in;
    DWORD errors;
    Bytes held;
  };
  const Row rows[] = {
      {"a doubled FF is one data byte", {0x41, 0xFF, 0xFF}, 0, {0x41, 0xFF}},
      {"a break", {0xFF, 0xFA, 0x2C, 0x6A, 0x10, 0xFF, 0xF0}, CE_BREAK, {}},
      {"framing and parity",
       {0xFF, 0xFA, 0x2C, 0x6A, 0x0C, 0xFF, 0xF0},
       CE_FRAME | CE_RXPARITY,
       {}},
      {"past the room: the newest dropped", {1, 2, 3, 4, 5, 6}, CE_RXOVER, {1, 2, 3, 4}},
      {"a client's command echoed back is ignored",
       {0xFF, 0xFA, 0x2C, 0x06, 0x10, 0xFF, 0xF0},
       0,
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Feed(session, row.in);
    EXPECT_EQ(session.TakeErrors(), row.errors);
    EXPECT_EQ(Held(session), row.held);
  }
  EXPECT_EQ(session.TakeErrors(), 0u);  // reported once
}

TEST(Rfc2217SessionTest, TheOpenSaysWhyTheFirstSettingsFailed) {
  EXPECT_EQ(Rfc2217Session::SettingsFailure(ERROR_TIMEOUT, 3000),
            "the server did not confirm the line settings within 3000 ms");
  EXPECT_EQ(Rfc2217Session::SettingsFailure(ERROR_INVALID_PARAMETER, 3000),
            "the server refused the line settings 9600 8N1");
  EXPECT_EQ(Rfc2217Session::SettingsFailure(ERROR_GEN_FAILURE, 3000),
            "setting the line failed (error 31)");
}

}  // namespace
}  // namespace platform
