// The response plots read as pictures: every curve inside its panel with no
// text or legend over it, the frequency axis labelled to its end, and only
// SVG features that browsers, librsvg and ImageMagick all draw alike.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <sstream>
#include <string>
#include <vector>

#include "design/design.h"

namespace {

struct Box {
    double Left, Top, Right, Bottom;
};

bool Inside(const Box& box, double x, double y) {
    return x > box.Left && x < box.Right && y > box.Top && y < box.Bottom;
}

// The number in name="..." of one element, or NaN.
double Number(const std::string& element, const std::string& name) {
    size_t at = element.find(" " + name + "=\"");
    if (at == std::string::npos) return std::nan("");
    return std::stod(element.substr(at + name.size() + 3));
}

std::vector<std::string> Elements(const std::string& svg) {
    std::vector<std::string> elements;
    std::istringstream lines(svg);
    for (std::string line; std::getline(lines, line);) elements.push_back(line);
    return elements;
}

// The panels: the black frames.
std::vector<Box> Panels(const std::vector<std::string>& elements) {
    std::vector<Box> panels;
    for (const std::string& e : elements) {
        if (e.starts_with("<rect") && e.find("stroke=\"#000000\"") != std::string::npos) {
            double x = Number(e, "x"), y = Number(e, "y");
            panels.push_back({x, y, x + Number(e, "width"), y + Number(e, "height")});
        }
    }
    return panels;
}

std::vector<std::pair<std::string, std::string>> Plots() {
    const double fopCornerHz = 1e6 / (2.0 * std::numbers::pi * 75.0);
    std::vector<std::pair<std::string, std::string>> plots;
    for (const ErrorModel& model :
         {MakeFirstOrderModel(75.0, 5.0), MakeSecondOrderModel(15000.0, 0.7071, 0.85),
          MakeFirstOrderPhaseModel(fopCornerHz), MakeSecondOrderPhaseModel(15000.0, 0.7071),
          MakeSecondOrderModel(12000.0, 0.7071, 1.2)}) {
        const DesignedTaps design = DesignErrorFilter(model);
        plots.emplace_back(model.Name, RenderResponseSvg(model, design.Taps.data(), 64));
    }
    // phonoskew-design --check: a file's taps alone, named as the file is.
    const DesignedTaps fo = DesignErrorFilter(MakeFirstOrderModel(75.0, 5.0));
    plots.emplace_back("taps", RenderTapsSvg("a&<b>.dat", "as read", fo.Taps.data(), 64));
    return plots;
}

TEST(ResponsePlot, CurvesStayInTheirPanelsAndNothingIsDrawnOverThem) {
    for (const auto& [name, svg] : Plots()) {
        SCOPED_TRACE(name);
        std::vector<std::string> elements = Elements(svg);
        std::vector<Box> panels = Panels(elements);
        ASSERT_EQ(panels.size(), 2u);
        int curves = 0;
        for (const std::string& e : elements) {
            if (e.starts_with("<polyline")) {
                // Each curve lies within one panel, frame lines included.
                ++curves;
                std::istringstream points(e.substr(e.find("points=\"") + 8));
                Box panel{};
                int count = 0;
                for (double x, y; points >> x && points.ignore(1) && points >> y; ++count) {
                    if (count == 0) panel = y <= panels[0].Bottom ? panels[0] : panels[1];
                    EXPECT_TRUE(x >= panel.Left && x <= panel.Right && y >= panel.Top &&
                                y <= panel.Bottom)
                        << x << "," << y;
                }
                EXPECT_GT(count, 100);
            } else if (e.starts_with("<text") || e.find("stroke-width") != std::string::npos) {
                // Labels, titles and the legend's samples stand outside the panels.
                for (const Box& panel : panels) {
                    EXPECT_FALSE(Inside(panel, Number(e, "x"), Number(e, "y"))) << e;
                    EXPECT_FALSE(Inside(panel, Number(e, "x1"), Number(e, "y1"))) << e;
                    EXPECT_FALSE(Inside(panel, Number(e, "x2"), Number(e, "y2"))) << e;
                }
            }
        }
        EXPECT_EQ(curves, name == "taps" ? 2 : 4);
        if (name == "taps") {
            EXPECT_NE(svg.find(">a&amp;&lt;b&gt;.dat<"), std::string::npos);
        }
    }
}

TEST(ResponsePlot, FrequencyAxesAreLabelledToTheirEnd) {
    for (const auto& [name, svg] : Plots()) {
        SCOPED_TRACE(name);
        std::vector<std::string> elements = Elements(svg);
        for (const Box& panel : Panels(elements)) {
            int endLabels = 0, startLabels = 0;
            for (const std::string& e : elements) {
                if (!e.starts_with("<text") || Number(e, "y") <= panel.Bottom ||
                    Number(e, "y") > panel.Bottom + 20) {
                    continue;
                }
                if (Number(e, "x") == panel.Right && e.find(">48k<") != std::string::npos) {
                    ++endLabels;
                }
                if (Number(e, "x") == panel.Left && e.find(">10<") != std::string::npos) {
                    ++startLabels;
                }
            }
            EXPECT_EQ(endLabels, 1);
            EXPECT_EQ(startLabels, 1);
        }
    }
}

// ImageMagick's own renderer drops or mirrors rotated text, draws
// stroke-opacity as opaque, closes a thick mitred polyline with a stray line
// and outlines text that names no stroke; percentages and transforms are
// left out as well.
TEST(ResponsePlot, UsesOnlyPlainSvgThatEveryRendererDraws) {
    for (const auto& [name, svg] : Plots()) {
        SCOPED_TRACE(name);
        EXPECT_NE(Elements(svg)[0].find(" stroke=\"none\""), std::string::npos) << Elements(svg)[0];
        for (const char* feature : {"transform", "rotate", "opacity", "%\"", "<g", "<path", "<use",
                                    "<style", "class=", "dominant-baseline", "<tspan"}) {
            EXPECT_EQ(svg.find(feature), std::string::npos) << feature;
        }
        for (const std::string& e : Elements(svg)) {
            if (Number(e, "stroke-width") > 1.5) {
                EXPECT_NE(e.find("stroke-linejoin=\"round\""), std::string::npos) << e;
            }
        }
    }
}

}  // namespace
