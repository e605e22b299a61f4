#include "TestTree.h"
#include "com/ComInterface.h"
#include "params/NodeList.h"
#include "porting/Clock.h"
#include "support/TempRoot.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// A transport that is only a protocol endpoint.
class Endpoint : public ComInterface {
public:
    using ComInterface::ComInterface;
    int64_t lastReadTime() const { return lastRead; }
};

struct Case {
    std::string request;
    std::string reply;
};

} // namespace

TEST(Protocol, RepliesWithoutPassword)
{
    TestTree tree;
    Endpoint iface(tree.root);
    const std::string aliasBrowse =
        "root\\sys\\alias:{\"desc\":\"Alias\",\"value\":\"\",\"type\":\"item\",\"item_type\":\"string\",\"def\":\"\"}";
    const Case cases[] = {
        {"", "\r\n"},
        {"\r\n", "\r\n"},
        {"browse root\\nothing", "\r\n"},
        {"browse root\\sys\\alias", aliasBrowse},
        {"browse root\\sys\\alias\r\n", aliasBrowse},
        // Pieces are joined with nothing between them.
        {"browse root\\sys\\alias\r\nbrowse root\\sys\\alias", aliasBrowse + aliasBrowse},
        // A verb without its blank, an unknown verb and a late token line match nothing.
        {"browseroot\\sys", "\r\n"},
        {"readroot", "\r\n"},
        {"dswapx root:{}", "\r\n"},
        {"hello root", "\r\n"},
        {"token ABC", "\r\n"},
        // The list verbs need a list: a missing path, a non-list node and a missing colon add nothing.
        {"dread root\\sys\\alias:{\"index\":0,\"chunk\":1}", "\r\n"},
        {"dwrite root\\sys\\alias:{\"index\":0,\"chunk\":1,\"value\":\"00\"}", "\r\n"},
        {"dswap root\\nothing:{\"index\":0,\"index2\":1}", "\r\n"},
        {"dmove root\\sys", "\r\n"},
        // "write" echoes its argument when the node took the value (or has no node to show); what was
        // refused is echoed with the value kept.
        {"write root\\sys\\_name:{\"value\":\"Evil\"}", "root\\sys\\_name:{\"value\":\"Quelm Device\"}\r\n"},
        {"write root\\sys\\alias", "root\\sys\\alias:{\"value\":\"\"}\r\n"},
        {"write root\\nothing:{\"value\":\"x\"}", "root\\nothing:{\"value\":\"x\"}\r\n"},
        {"write root\\app\\gain:{\"value\":7.5}\r\nwrite root\\app:{\"value\":}",
         "root\\app\\gain:{\"value\":7.5}\r\nroot\\app:{\"value\":\"\"}\r\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(iface.processRequest(c.request), c.reply) << c.request;

    EXPECT_EQ(tree.name->getValue(), "Quelm Device");
    EXPECT_FLOAT_EQ(tree.gain->getValue(), 7.5f);
    EXPECT_EQ(iface.processRequest("write root\\sys\\alias:{\"value\":\"x\"}"),
              "root\\sys\\alias:{\"value\":\"x\"}\r\n");
    EXPECT_EQ(tree.alias->getValue(), "x");
}

TEST(Protocol, NoRootGivesEmptyReply)
{
    Endpoint iface(nullptr);
    EXPECT_EQ(iface.processRequest("browse root"), "");
    EXPECT_EQ(iface.processRequest(""), "");
}

TEST(Protocol, ReadReportsWhatChangedSinceThisInterfacesLastRead)
{
    TestTree tree;
    Endpoint a(tree.root), b(tree.root);

    // Nothing read yet: every node of the subtree.
    std::string first = a.processRequest("read root\\sys");
    EXPECT_NE(first.find("root\\sys\\_name:{\"value\":\"Quelm Device\"}"), std::string::npos);
    EXPECT_NE(first.find("root\\sys\\alias:{\"value\":\"\"}"), std::string::npos);

    EXPECT_EQ(a.processRequest("read root"), "\r\n");
    int64_t before = a.lastReadTime();
    // A path that does not resolve leaves lastRead alone.
    EXPECT_EQ(a.processRequest("read root\\none\r\nbrowse root\\none"), "\r\n");
    EXPECT_EQ(a.lastReadTime(), before);

    tree.alias->setValue("changed");
    EXPECT_EQ(a.processRequest("read root"), "root\\sys\\alias:{\"value\":\"changed\"}");
    EXPECT_EQ(a.processRequest("read root"), "\r\n");
    // A leaf always answers.
    EXPECT_EQ(a.processRequest("read root\\sys\\alias"), "root\\sys\\alias:{\"value\":\"changed\"}");

    // The other interface keeps its own clock.
    std::string other = b.processRequest("read root");
    EXPECT_NE(other.find("root\\sys\\alias:{\"value\":\"changed\"}"), std::string::npos);
    EXPECT_NE(other.find("root\\app\\gain"), std::string::npos);

    // A browse moves lastRead too.
    tree.gain->setValue(1);
    b.processRequest("browse root\\app");
    EXPECT_EQ(b.processRequest("read root"), "\r\n");
}

namespace {
// A node whose fragment, while being built, changes another node, as another thread may during a
// walk.
class Meddler : public NodeItem {
public:
    Meddler(Node* parent, NodeItem* victim) : NodeItem(parent, "meddler", "M", "", "string"), victim(victim) {}
    std::string getValueJSON() override
    {
        if (armed) {
            armed = false;
            // Let the clock move so the change is stamped strictly after the walk began.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            victim->setValue("walk " + std::to_string(++walks));
        }
        return NodeItem::getValueJSON();
    }
    bool armed = false;
    int walks = 0;
    NodeItem* victim;
};
} // namespace

TEST(Protocol, ChangeDuringWalkIsReportedByNextRead)
{
    TestTree tree;
    Endpoint iface(tree.root);
    auto* meddler = new Meddler(tree.app, tree.alias);
    // The change is stamped after the walk began; the walk may or may not show it, the next read must.
    meddler->armed = true;
    iface.processRequest("browse root");
    EXPECT_EQ(iface.processRequest("read root"), "root\\sys\\alias:{\"value\":\"walk 1\"}");

    // A read walks only changed nodes: the meddler must have changed to be visited.
    meddler->setValue("changed");
    meddler->armed = true;
    iface.processRequest("read root");
    EXPECT_EQ(iface.processRequest("read root"), "root\\sys\\alias:{\"value\":\"walk 2\"}");
}

TEST(Protocol, PasswordLimitsVerbsAndRotatesToken)
{
    // The unit's default password is derived from its adapter address.
    setenv("KESTRUN_BT_ADDR", "12:34:56:78:9A:BC", 1);
    TestTree tree;
    Endpoint a(tree.root), b(tree.root);
    ASSERT_TRUE(tree.sys->pathToNode("root\\sys\\pwd"));
    static_cast<NodeItem*>(tree.sys->pathToNode("root\\sys\\pwd"))->setValue("secret");

    // No token line yet: " n", the write is skipped silently, browse is served.
    std::string reply = a.processRequest("write root\\sys\\alias:{\"value\":\"x\"}\r\nbrowse root\\sys\\alias");
    std::string token = tokenOf(reply);
    ASSERT_EQ(token.size(), 16u);
    EXPECT_EQ(reply.substr(0, 6 + 16 + 4), "token " + token + " n\r\n");
    EXPECT_NE(reply.find("root\\sys\\alias:{\"desc\":\"Alias\""), std::string::npos);
    EXPECT_EQ(tree.alias->getValue(), "");

    // An empty first line still gets the token line.
    std::string empty = a.processRequest("\r\nread root\\sys\\alias");
    EXPECT_EQ(empty.substr(0, 6), "token ");
    EXPECT_NE(empty.find(" n\r\nroot\\sys\\alias:{\"value\":\"\"}"), std::string::npos);
    token = tokenOf(empty);

    // A wrong answer and a lower-case answer are refused; each request rotates the token.
    for (const std::string& bad : {std::string("0000000000000000"), [&] {
                                       std::string lower = tokenResponse("secret", token);
                                       for (char& c : lower) c = static_cast<char>(tolower(c));
                                       return lower;
                                   }()}) {
        std::string r = a.processRequest("token " + bad + "\r\nwrite root\\sys\\alias:{\"value\":\"x\"}");
        EXPECT_NE(r.find(" n\r\n"), std::string::npos);
        EXPECT_EQ(r.find("root\\sys\\alias:"), std::string::npos);
        EXPECT_NE(tokenOf(r), token);
        token = tokenOf(r);
    }
    EXPECT_EQ(tree.alias->getValue(), "");

    // The right answer: " y" and the write applies and is echoed.
    std::string ok =
        a.processRequest("token " + tokenResponse("secret", token) + "\r\nwrite root\\sys\\alias:{\"value\":\"x\"}");
    std::string next = tokenOf(ok);
    EXPECT_EQ(ok, "token " + next + " y\r\nroot\\sys\\alias:{\"value\":\"x\"}\r\n");
    EXPECT_EQ(tree.alias->getValue(), "x");

    // The old token cannot be answered twice, and b cannot answer a's token.
    EXPECT_NE(a.processRequest("token " + tokenResponse("secret", token)).find(" n\r\n"), std::string::npos);
    b.processRequest("browse root\\sys\\_name");
    EXPECT_NE(b.processRequest("token " + tokenResponse("secret", tokenOf(ok))).find(" n\r\n"), std::string::npos);

    // The unit's default password, derived from its published address, opens nothing once the user
    // has set a password.
    ASSERT_FALSE(Security::getDefaultPassword().empty());
    std::string t = tokenOf(a.processRequest("browse root\\none"));
    std::string def = a.processRequest("token " + tokenResponse(Security::getDefaultPassword(), t) +
                                       "\r\nwrite root\\sys\\alias:{\"value\":\"default\"}");
    EXPECT_EQ(def, "token " + tokenOf(def) + " n\r\n");
    EXPECT_EQ(tree.alias->getValue(), "x");

    // A token line later in the request is no token line.
    t = tokenOf(def);
    std::string late = a.processRequest("browse root\\none\r\ntoken " + tokenResponse("secret", t));
    EXPECT_NE(late.find(" n\r\n"), std::string::npos);
}

TEST(Protocol, TokenLineIsOrdinaryWithoutPassword)
{
    TestTree tree;
    Endpoint a(tree.root);
    EXPECT_EQ(a.processRequest("token 1234\r\nwrite root\\sys\\alias:{\"value\":\"y\"}"),
              "root\\sys\\alias:{\"value\":\"y\"}\r\n");
    EXPECT_EQ(tree.alias->getValue(), "y");
}

TEST(Protocol, ListVerbsReachTheList)
{
    setenv("KESTRUN_BT_ADDR", "12:34:56:78:9A:BC", 1);
    TestTree tree;
    Endpoint iface(tree.root);
    auto* list = new NodeList(tree.app, "lst", "List", "preset", 256, 4);
    std::vector<uint8_t> data(256);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i);
    list->setElementAt(0, "first", data.data());
    list->setElementAt(1, "second", data.data());

    const std::string swap = "dswap root\\app\\lst:{\"index\":0,\"index2\":1}";
    EXPECT_EQ(iface.processRequest(swap), swap);
    EXPECT_EQ(list->nameAt(0), "second");
    // A refused move adds nothing; a good one echoes its line with no line end.
    EXPECT_EQ(iface.processRequest("dmove root\\app\\lst:{\"index\":0,\"index2\":9}"), "\r\n");
    const std::string move = "dmove root\\app\\lst:{\"index\":1,\"index2\":0}";
    EXPECT_EQ(iface.processRequest(move + "\r\n" + move), move + move);
    EXPECT_EQ(list->nameAt(0), "second");

    const std::string readArgument = "root\\app\\lst:{\"index\":0,\"chunk\":2}";
    std::string chunk = iface.processRequest("dread " + readArgument);
    EXPECT_EQ(chunk.rfind("dread root\\app\\lst:{\"index\":0", 0), 0u) << chunk;
    EXPECT_NE(chunk.find("808182838485"), std::string::npos) << chunk;

    // A write chunk is answered with the list's transfer status, taken or not.
    std::string status = iface.processRequest("dwrite root\\app\\lst:{\"index\":3,\"chunk\":99,\"value\":\"00\"}");
    EXPECT_EQ(status, "dwrite " + list->writeStatusJSON());

    // Behind a password, the list verbs are skipped without a right token.
    static_cast<NodeItem*>(tree.sys->pathToNode("root\\sys\\pwd"))->setValue("pw");
    std::string reply = iface.processRequest(swap + "\r\ndread " + readArgument);
    EXPECT_EQ(reply, "token " + tokenOf(reply) + " n\r\n");
    EXPECT_EQ(list->nameAt(0), "second");
    reply = iface.processRequest("token " + tokenResponse("pw", tokenOf(reply)) + "\r\n" + swap);
    EXPECT_EQ(reply, "token " + tokenOf(reply) + " y\r\n" + swap);
    EXPECT_EQ(list->nameAt(0), "first");
}

TEST(Protocol, SecretsAreHiddenFromClientsNotLoggedIn)
{
    TestTree tree;
    Endpoint iface(tree.root);
    auto* wifiPassword = new NodeItem(tree.sys, "wpw", "Password", "", "string");
    wifiPassword->setSecret();
    wifiPassword->setValue("hunter2");
    const std::string shown = "root\\sys\\wpw:{\"value\":\"hunter2\"}", hidden = "root\\sys\\wpw:{\"value\":\"\"}";
    // No password set: nothing to log in to, so nothing is hidden.
    EXPECT_EQ(iface.processRequest("read root\\sys\\wpw"), shown);

    static_cast<NodeItem*>(tree.sys->pathToNode("root\\sys\\pwd"))->setValue("pw");
    std::string token = tokenOf(iface.processRequest("browse root\\none"));
    struct Case {
        bool loggedIn;
        std::string request;
        std::string shows; // after the token line
    } cases[] = {
        {false, "read root\\sys\\wpw", hidden},
        {false, "browse root\\sys\\pwd",
         "root\\sys\\pwd:{\"desc\":\"Password\",\"value\":\"\",\"type\":\"item\",\"item_type\":\"string\",\"def\":"
         "\"\"}"},
        // A write of a secret is skipped without login, and nothing of it comes back.
        {false, "write root\\sys\\wpw:{\"value\":\"mine\"}\r\nread root\\sys\\wpw", hidden},
        {true, "read root\\sys\\wpw", shown},
        {true, "write root\\sys\\wpw:{\"value\":\"hunter2\"}\r\nread root\\sys\\wpw",
         "root\\sys\\wpw:{\"value\":\"hunter2\"}\r\n" + shown},
        // The login password itself never travels, logged in or not.
        {true, "read root\\sys\\pwd", "root\\sys\\pwd:{\"value\":\"\"}"},
        // Yet a write of it that holds is echoed as sent, as any other.
        {true, "write root\\sys\\pwd:{\"value\":\"pw\"}", "root\\sys\\pwd:{\"value\":\"pw\"}\r\n"},
    };
    for (const Case& c : cases) {
        std::string line = c.loggedIn ? "token " + tokenResponse("pw", token) + "\r\n" : "";
        std::string reply = iface.processRequest(line + c.request);
        EXPECT_EQ(reply, "token " + tokenOf(reply) + (c.loggedIn ? " y\r\n" : " n\r\n") + c.shows) << c.request;
        token = tokenOf(reply);
    }
    // The secret is hidden only from the reply, not from the unit.
    EXPECT_EQ(wifiPassword->getValue(), "hunter2");
    EXPECT_EQ(wifiPassword->getValueJSON(), "\"value\":\"hunter2\"");
}

TEST(Protocol, TextsLongerThanStorageHoldsAreRefused)
{
    TestTree tree;
    Endpoint iface(tree.root);
    const std::string longest(NodeItem::kMaxLength, 'a'), tooLong(NodeItem::kMaxLength + 1, 'b');
    const std::string write = "write root\\sys\\alias:{\"value\":\"";
    EXPECT_EQ(iface.processRequest(write + longest + "\"}"), "root\\sys\\alias:{\"value\":\"" + longest + "\"}\r\n");
    EXPECT_EQ(tree.alias->getValue(), longest);
    // Refused: the echo shows the value kept, not the one sent.
    tree.alias->setValue("old");
    EXPECT_EQ(iface.processRequest(write + tooLong + "\"}"), "root\\sys\\alias:{\"value\":\"old\"}\r\n");
    EXPECT_EQ(tree.alias->getValue(), "old");
    EXPECT_FALSE(tree.alias->setValue(tooLong));
}

TEST(Protocol, ReplyIsBoundedAndLaterLinesSkipped)
{
    TestTree tree;
    Endpoint iface(tree.root);
    Node* bulk = tree.addBulk(700, 100);
    std::string one = iface.processRequest("browse root\\app\\big");
    ASSERT_GT(one.size(), ComInterface::kMaxReply / 3);
    ASSERT_LT(one.size(), ComInterface::kMaxReply / 2);

    std::string request;
    for (int i = 0; i < 2000; ++i) request += "browse root\\app\\big\r\n";
    request += "write root\\sys\\alias:{\"value\":\"late\"}\r\nread root";
    {
        StdoutCapture out;
        // Whole fragments only: as many full browses as fit; the rest, the write included, skipped.
        EXPECT_EQ(iface.processRequest(request), one + one);
        EXPECT_EQ(out.text(), "W (Com): Reply limit of 524288 bytes reached: 2000 line(s) skipped\n");
    }
    EXPECT_EQ(tree.alias->getValue(), "");

    // A read that cannot fit adds nothing and keeps its changes for a later read.
    for (Node* node : bulk->getChildren()) static_cast<NodeItem*>(node)->setValue(std::string(1000, 'z'));
    int64_t before = iface.lastReadTime();
    EXPECT_EQ(iface.processRequest("read root\\app\\big"), "\r\n");
    EXPECT_EQ(iface.lastReadTime(), before);
}
