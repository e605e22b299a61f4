#include "src/widgets/buttonmatrix/lv_buttonmatrix.h"

#include <cstring>

#include "src/draw/lv_draw.h"
#include "src/widgets/buttonmatrix/lv_buttonmatrix_private.h"

namespace {

const char* const kDefaultMap[] = {"Btn1", "Btn2", "Btn3", "\n", "Btn4", "Btn5", ""};

lv_buttonmatrix_t* as_matrix(const lv_obj_t* obj);
lv_obj_t* create_instance();
void constructor(lv_obj_t* obj);
uint32_t width_units(uint32_t ctrl);
bool button_area(lv_obj_t* obj, uint32_t btn_id, lv_area_t* area);
void draw_main(lv_obj_t* obj, lv_layer_t* layer);

} // namespace

const lv_obj_class_t lv_buttonmatrix_class = {
    &lv_obj_class, "lv_buttonmatrix", LV_DPI_DEF * 2, LV_DPI_DEF, create_instance,
    constructor,   draw_main,         nullptr,        nullptr,
};

lv_obj_t* lv_buttonmatrix_create(lv_obj_t* parent)
{
    return lv_obj_class_create_obj(&lv_buttonmatrix_class, parent);
}

void lv_buttonmatrix_set_map(lv_obj_t* obj, const char* const map[])
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    m->map = map;
    m->texts.clear();
    m->row_of.clear();
    m->row_count = 0;
    if (map) {
        uint32_t row = 0;
        for (uint32_t i = 0; map[i] && map[i][0] != '\0'; i++) {
            if (std::strcmp(map[i], "\n") == 0) {
                row++;
                continue;
            }
            m->texts.push_back(map[i]);
            m->row_of.push_back(row);
        }
        m->row_count = m->texts.empty() ? 0 : row + 1;
    }
    m->ctrl.assign(m->texts.size(), LV_BUTTONMATRIX_CTRL_WIDTH_1);
    if (m->btn_id_sel != LV_BUTTONMATRIX_BUTTON_NONE && m->btn_id_sel >= m->texts.size()) {
        m->btn_id_sel = LV_BUTTONMATRIX_BUTTON_NONE;
    }
    lv_obj_mark_dirty(obj);
}

void lv_buttonmatrix_set_ctrl_map(lv_obj_t* obj, const lv_buttonmatrix_ctrl_t ctrl_map[])
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    if (ctrl_map == nullptr) return;
    for (size_t i = 0; i < m->ctrl.size(); i++) m->ctrl[i] = ctrl_map[i];
    lv_obj_mark_dirty(obj);
}

void lv_buttonmatrix_set_button_ctrl(lv_obj_t* obj, uint32_t btn_id, lv_buttonmatrix_ctrl_t ctrl)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    if (btn_id >= m->ctrl.size()) return;
    if (m->one_check && (ctrl & LV_BUTTONMATRIX_CTRL_CHECKED)) {
        lv_buttonmatrix_clear_button_ctrl_all(obj, LV_BUTTONMATRIX_CTRL_CHECKED);
    }
    m->ctrl[btn_id] |= ctrl;
    lv_obj_mark_dirty(obj);
}

void lv_buttonmatrix_clear_button_ctrl(lv_obj_t* obj, uint32_t btn_id, lv_buttonmatrix_ctrl_t ctrl)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    if (btn_id >= m->ctrl.size()) return;
    m->ctrl[btn_id] &= ~static_cast<uint32_t>(ctrl);
    lv_obj_mark_dirty(obj);
}

void lv_buttonmatrix_set_button_ctrl_all(lv_obj_t* obj, lv_buttonmatrix_ctrl_t ctrl)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    for (uint32_t i = 0; i < m->ctrl.size(); i++) lv_buttonmatrix_set_button_ctrl(obj, i, ctrl);
}

void lv_buttonmatrix_clear_button_ctrl_all(lv_obj_t* obj, lv_buttonmatrix_ctrl_t ctrl)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    for (auto& c : m->ctrl) c &= ~static_cast<uint32_t>(ctrl);
    lv_obj_mark_dirty(obj);
}

void lv_buttonmatrix_set_button_width(lv_obj_t* obj, uint32_t btn_id, uint32_t width)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    if (btn_id >= m->ctrl.size()) return;
    m->ctrl[btn_id] = (m->ctrl[btn_id] & ~static_cast<uint32_t>(LV_BUTTONMATRIX_WIDTH_MASK)) |
                      (LV_CLAMP(1u, width, 15u) & LV_BUTTONMATRIX_WIDTH_MASK);
    lv_obj_mark_dirty(obj);
}

void lv_buttonmatrix_set_selected_button(lv_obj_t* obj, uint32_t btn_id)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    m->btn_id_sel = btn_id < m->texts.size() ? btn_id : LV_BUTTONMATRIX_BUTTON_NONE;
    lv_obj_mark_dirty(obj);
}

void lv_buttonmatrix_set_one_checked(lv_obj_t* obj, bool en)
{
    as_matrix(obj)->one_check = en;
}

const char* const* lv_buttonmatrix_get_map(const lv_obj_t* obj)
{
    return as_matrix(obj)->map;
}

uint32_t lv_buttonmatrix_get_selected_button(const lv_obj_t* obj)
{
    return as_matrix(obj)->btn_id_sel;
}

const char* lv_buttonmatrix_get_button_text(const lv_obj_t* obj, uint32_t btn_id)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    return btn_id < m->texts.size() ? m->texts[btn_id] : nullptr;
}

bool lv_buttonmatrix_has_button_ctrl(lv_obj_t* obj, uint32_t btn_id, lv_buttonmatrix_ctrl_t ctrl)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    return btn_id < m->ctrl.size() && (m->ctrl[btn_id] & ctrl) == static_cast<uint32_t>(ctrl);
}

bool lv_buttonmatrix_get_one_checked(const lv_obj_t* obj)
{
    return as_matrix(obj)->one_check;
}

uint32_t lv_buttonmatrix_get_button_count(const lv_obj_t* obj)
{
    return static_cast<uint32_t>(as_matrix(obj)->texts.size());
}

void lv_buttonmatrix_get_button_area(lv_obj_t* obj, uint32_t btn_id, lv_area_t* area)
{
    lv_obj_update_layout(obj);
    if (!button_area(obj, btn_id, area)) lv_area_set(area, 0, 0, -1, -1);
}

namespace {

lv_buttonmatrix_t* as_matrix(const lv_obj_t* obj)
{
    return static_cast<lv_buttonmatrix_t*>(const_cast<lv_obj_t*>(obj));
}

lv_obj_t* create_instance()
{
    return new lv_buttonmatrix_t();
}

void constructor(lv_obj_t* obj)
{
    lv_obj_remove_flag(obj, LV_OBJ_FLAG_SCROLLABLE);
    lv_buttonmatrix_set_map(obj, kDefaultMap);
}

uint32_t width_units(uint32_t ctrl)
{
    uint32_t w = ctrl & LV_BUTTONMATRIX_WIDTH_MASK;
    return w == 0 ? 1 : w;
}

/* Rows share the content height; within a row the buttons share the width by their units. */
bool button_area(lv_obj_t* obj, uint32_t btn_id, lv_area_t* area)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    if (btn_id >= m->texts.size() || m->row_count == 0) return false;
    lv_area_t c;
    lv_obj_get_content_coords(obj, &c);
    int32_t row_gap = lv_obj_get_style_pad_row(obj, LV_PART_MAIN);
    int32_t col_gap = lv_obj_get_style_pad_column(obj, LV_PART_MAIN);
    int32_t rows = static_cast<int32_t>(m->row_count);
    int32_t row_h_total = lv_area_get_height(&c) - (rows - 1) * row_gap;
    int32_t row = static_cast<int32_t>(m->row_of[btn_id]);
    int32_t y1 = c.y1 + row_h_total * row / rows + row * row_gap;
    int32_t y2 = c.y1 + row_h_total * (row + 1) / rows + row * row_gap - 1;

    uint32_t units_before = 0, units_total = 0, count = 0, index_in_row = 0;
    for (uint32_t i = 0; i < m->texts.size(); i++) {
        if (m->row_of[i] != m->row_of[btn_id]) continue;
        if (i < btn_id) {
            units_before += width_units(m->ctrl[i]);
            index_in_row++;
        }
        units_total += width_units(m->ctrl[i]);
        count++;
    }
    int32_t avail = lv_area_get_width(&c) - static_cast<int32_t>(count - 1) * col_gap;
    int32_t units = static_cast<int32_t>(width_units(m->ctrl[btn_id]));
    int32_t x1 = c.x1 + avail * static_cast<int32_t>(units_before) / static_cast<int32_t>(units_total) +
                 static_cast<int32_t>(index_in_row) * col_gap;
    int32_t x2 = c.x1 + avail * static_cast<int32_t>(units_before + units) / static_cast<int32_t>(units_total) +
                 static_cast<int32_t>(index_in_row) * col_gap - 1;
    lv_area_set(area, x1, y1, x2, y2);
    return true;
}

void draw_main(lv_obj_t* obj, lv_layer_t* layer)
{
    lv_buttonmatrix_t* m = as_matrix(obj);
    lv_state_t saved = obj->state;
    for (uint32_t i = 0; i < m->texts.size(); i++) {
        if (m->ctrl[i] & LV_BUTTONMATRIX_CTRL_HIDDEN) continue;
        lv_area_t area;
        if (!button_area(obj, i, &area)) continue;
        /* Each button is drawn in its own state. */
        lv_state_t state = saved;
        if (m->ctrl[i] & LV_BUTTONMATRIX_CTRL_CHECKED) state |= LV_STATE_CHECKED;
        if (m->ctrl[i] & LV_BUTTONMATRIX_CTRL_DISABLED) state |= LV_STATE_DISABLED;
        obj->state = state;
        lv_draw_rect_dsc_t rect;
        lv_obj_init_draw_rect_dsc(obj, LV_PART_ITEMS, &rect);
        lv_draw_label_dsc_t label;
        lv_obj_init_draw_label_dsc(obj, LV_PART_ITEMS, &label);
        obj->state = saved;
        lv_draw_rect(layer, &rect, &area);

        const char* text = m->texts[i];
        lv_point_t size;
        lv_text_get_size(&size, text, label.font, label.letter_space, label.line_space, LV_COORD_MAX,
                         LV_TEXT_FLAG_EXPAND);
        lv_area_t text_area = area;
        text_area.y1 = area.y1 + (lv_area_get_height(&area) - size.y) / 2;
        text_area.y2 = text_area.y1 + size.y - 1;
        label.align = LV_TEXT_ALIGN_CENTER;
        label.wrap = false;
        lv_area_t clip = layer->clip;
        if (lv_area_intersect(&layer->clip, &clip, &area)) lv_draw_label(layer, &label, &text_area, text);
        layer->clip = clip;
    }
}

} // namespace
