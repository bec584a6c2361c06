#include "app/key_poll_thread.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "platform/keystate.h"
#include "state/run_state.h"

namespace karvelo::app {
namespace {

using ::testing::ElementsAre;

// A key that is down or up as the test says, recording which keys were asked.
class FakeKeys : public platform::KeyState {
  public:
    bool IsDownOrWasPressed(int key) override {
        asked.push_back(key);
        return down;
    }
    bool down = false;
    std::vector<int> asked;
};

class KeyPollTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetRunState();
        g_run.SendKey = 5;  // F5
    }
    void TearDown() override { ResetRunState(); }

    // `polls` polls; the acquisition takes every pending trigger between two
    // polls. Returns the polls (1-based) after which a trigger was pending.
    std::vector<int> PollTaking(int polls) {
        std::vector<int> triggers;
        for (int i = 1; i <= polls; ++i) {
            poll.Poll();
            if (g_run.KeyTrigger == TriggerStage::Pending) {
                triggers.push_back(i);
                g_run.KeyTrigger = TriggerStage::Taken;
            }
        }
        return triggers;
    }

    FakeKeys keys;
    KeyPollThread poll{keys};
};

TEST_F(KeyPollTest, PressTriggersAndReleaseLetsGo) {
    keys.down = true;
    poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Pending);
    EXPECT_THAT(keys.asked, ElementsAre(5));

    g_run.KeyTrigger = TriggerStage::Taken;  // taken
    poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Taken);  // still held: no new trigger

    keys.down = false;
    poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Idle);
    EXPECT_EQ(poll.held(), 0);

    keys.down = true;  // pressed again
    poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Pending);
}

TEST_F(KeyPollTest, HeldKeyRepeatsEvery52Polls) {
    keys.down = true;
    // Six seconds of polls: at the press, after about 2.6 and 5.2 seconds.
    EXPECT_THAT(PollTaking(120), ElementsAre(1, 53, 105));
}

TEST_F(KeyPollTest, PressNotTakenIsDroppedAfter52Polls) {
    keys.down = true;
    poll.Poll();
    keys.down = false;
    for (int i = 2; i <= 51; ++i) poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger,
              TriggerStage::Pending);  // the acquisition is paused and has not taken it
    poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Idle);
    EXPECT_EQ(keys.asked.size(), 1u);  // a pending trigger is not asked again
}

TEST_F(KeyPollTest, SendKeySettings) {
    struct Case {
        const char* name;
        int sendKey;
        int before;  // KeyTrigger, as TriggerStage numbers
        int after;
        int asked;  // the key asked about; 0: only told to forget presses
    };
    const Case cases[] = {
        {"none holds the trigger at 0", 0, 2, 0, 0},
        {"F1", 1, 0, 1, 1},
        {"Enter", 14, 0, 1, 14},
        {"unknown key is never asked about", 15, 0, 0, 0},
        {"unknown key keeps a taken trigger", 15, 2, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        keys.down = true;
        keys.asked.clear();
        g_run.SendKey = c.sendKey;
        g_run.KeyTrigger = static_cast<TriggerStage>(c.before);
        KeyPollThread fresh(keys);
        fresh.Poll();
        EXPECT_EQ(g_run.KeyTrigger, static_cast<TriggerStage>(c.after));
        EXPECT_THAT(keys.asked, ElementsAre(c.asked));
    }
}

TEST_F(KeyPollTest, UnknownKeyLetsATakenTriggerGoAfter52Polls) {
    g_run.SendKey = 99;
    g_run.KeyTrigger = TriggerStage::Taken;
    for (int i = 1; i <= 51; ++i) poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Taken);
    poll.Poll();
    EXPECT_EQ(g_run.KeyTrigger, TriggerStage::Idle);
    EXPECT_THAT(keys.asked, ::testing::Each(0));
}

}  // namespace
}  // namespace karvelo::app
