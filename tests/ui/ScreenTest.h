#pragma once
// Fixture for the screen tests: the display as on the unit, the real screen stack and event queue,
// helpers to post event codes and dispatch them, to draw one frame the way the display loop does,
// and to find the labels, bars and other widgets of the frame.
#include "UiTest.h"

#include <chrono>
#include <initializer_list>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "ui/EventDispatcher.h"
#include "ui/Listener.h"

// A screen at the bottom of the stack that draws nothing and records what reaches it.
class RecordingScreen : public Listener {
public:
    bool draw() override { return drawn = true; }
    bool onEvent(int code) override
    {
        seen.push_back(code);
        return true;
    }
    bool drawn = false;
    std::vector<int> seen;
};

// Nodes and screens live for the whole program; tests keep theirs reachable the same way.
template <class T>
T* keep(T* object)
{
    static auto* kept = new std::vector<void*>;
    kept->push_back(object);
    return object;
}

// The main-encoder codes that type `text` (lower-case letters, '_', '-' and blanks) on a fresh
// keyboard and then press OK (or the close key when `ok` is false).
inline std::vector<int> keyboard_codes(const std::string& text, bool ok = true)
{
    auto key_of = [](char c) {
        if (c >= 'a' && c <= 'j') return 1 + (c - 'a');
        if (c >= 'k' && c <= 't') return 13 + (c - 'k');
        if (c >= 'u' && c <= 'z') return 24 + (c - 'u');
        if (c == '_') return 30;
        if (c == '-') return 31;
        return 32;
    };
    std::vector<int> codes;
    int selected = 0;
    auto press = [&](int key) {
        for (; selected < key; selected++) codes.push_back(EventCode::MAIN + EventCode::TURN_UP);
        for (; selected > key; selected--) codes.push_back(EventCode::MAIN + EventCode::TURN_DOWN);
        codes.push_back(EventCode::MAIN + EventCode::PUSH_CLICK);
    };
    for (char c : text) press(key_of(c));
    press(ok ? 23 : 33);
    return codes;
}

class ScreenTest : public UiTest {
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        // A modal screen that never closes would keep waitModal dispatching for ever.
        alarm(60);
    }

    void TearDown() override
    {
        for (std::thread& feeder : feeders) feeder.join();
        UiTest::TearDown();
    }

    // Posts the codes from another thread after a delay: for a modal screen that is opened only
    // after an earlier one has closed, while the test's own thread waits inside waitModal.
    void send_later(std::vector<int> codes, int delayMs)
    {
        feeders.emplace_back([codes, delayMs] {
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
            for (int code : codes) EventDispatcher::addEvent(code);
        });
    }

    // Posts each group of codes from another thread once the screen stack is that deep: for modal
    // screens opened on top of modal screens while the test's thread waits inside waitModal.
    void send_at_depths(std::vector<std::pair<int, std::vector<int>>> stages)
    {
        feeders.emplace_back([stages] {
            for (const auto& [depth, codes] : stages) {
                while (EventDispatcher::elements() != depth) std::this_thread::sleep_for(std::chrono::milliseconds(2));
                for (int code : codes) EventDispatcher::addEvent(code);
            }
        });
    }

    // Posts the codes and dispatches until the queue is empty (a CLOSE ends a dispatch call).
    void send(std::initializer_list<int> codes)
    {
        for (int code : codes) EventDispatcher::addEvent(code);
        settle();
    }

    void send(const std::vector<int>& codes)
    {
        for (int code : codes) EventDispatcher::addEvent(code);
        settle();
    }

    void settle()
    {
        for (int guard = 0; guard < 1000 && EventDispatcher::eventQueue.size_approx() > 0; guard++)
            EventDispatcher::dispatch();
    }

    // One display frame: empty the screen, let the top drawing screen build its widgets, render.
    void frame()
    {
        settle();
        LCD::clear();
        EventDispatcher::addEvent(EventCode::DRAW);
        settle();
        render();
    }

    Listener* top() { return EventDispatcher::events.empty() ? nullptr : EventDispatcher::events.back(); }
    int depth() { return EventDispatcher::elements(); }

    // Every object of the active screen, in creation order (depth first).
    std::vector<lv_obj_t*> all()
    {
        std::vector<lv_obj_t*> list;
        lv_obj_tree_walk(
            lv_screen_active(),
            [](lv_obj_t* obj, void* data) {
                static_cast<std::vector<lv_obj_t*>*>(data)->push_back(obj);
                return LV_OBJ_TREE_WALK_NEXT;
            },
            &list);
        return list;
    }

    std::vector<lv_obj_t*> of_class(const lv_obj_class_t* cls)
    {
        std::vector<lv_obj_t*> list;
        for (lv_obj_t* obj : all())
            if (lv_obj_check_type(obj, cls)) list.push_back(obj);
        return list;
    }

    std::vector<std::string> texts()
    {
        std::vector<std::string> list;
        for (lv_obj_t* label : of_class(&lv_label_class)) list.push_back(lv_label_get_text(label));
        return list;
    }

    // The first label with this text (null when none).
    lv_obj_t* label(const std::string& text)
    {
        for (lv_obj_t* obj : of_class(&lv_label_class))
            if (text == lv_label_get_text(obj)) return obj;
        return nullptr;
    }

    bool has_text(const std::string& text) { return label(text) != nullptr; }

    std::vector<std::thread> feeders;

    uint32_t text_color(lv_obj_t* obj) { return rgb(lv_obj_get_style_text_color(obj, LV_PART_MAIN)); }
    uint32_t bg_color(lv_obj_t* obj, lv_part_t part = LV_PART_MAIN)
    {
        return rgb(lv_obj_get_style_bg_color(obj, part));
    }
    lv_opa_t bg_opa(lv_obj_t* obj, lv_part_t part = LV_PART_MAIN) { return lv_obj_get_style_bg_opa(obj, part); }
};
