// Hand-written SVG plots of an error filter: magnitude and phase of the
// 64-tap FIR against the exact error, on a log frequency axis. No plotting
// library: the text is built here, with fixed number formats, so that the
// same taps always give the same file.
//
// Only plain SVG is used, so that browsers, librsvg (rsvg-convert) and
// ImageMagick's own renderer draw the same picture. ImageMagick 6 drops or
// mirrors rotated text, ignores stroke-opacity, closes a thick polyline
// with mitred joins by a stray line back across the panel, and outlines
// text and rectangles that name no stroke; so the axis titles stand upright
// above the panels, colours are solid, the broad curve has round joins and
// the root says stroke="none". The legend stands below the panels, where it
// can hide no curve.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "design/design.h"

namespace {

constexpr double PlotLowHz = 10.0;
constexpr double PlotHighHz = 48000.0;
constexpr int PlotPoints = 600;

constexpr double Width = 900.0;
constexpr double Height = 770.0;
constexpr double Left = 90.0;
constexpr double Right = 870.0;

// The exact error: a broad light red line (#d04020 at 55 % over white, as a
// solid colour) under the thin FIR line, so that both stay visible.
constexpr const char* ExactStyle =
    "stroke=\"#e59684\" stroke-width=\"4\" stroke-linejoin=\"round\" stroke-linecap=\"round\"";
constexpr const char* FirStyle =
    "stroke=\"#1040a0\" stroke-width=\"1.5\" stroke-linejoin=\"round\"";

// One panel: its place on the page and its value range.
struct Panel {
    double Top, Bottom;
    double Low, High, Step;
};

double HzToX(double hz) {
    const double t = std::log10(hz / PlotLowHz) / std::log10(PlotHighHz / PlotLowHz);
    return Left + t * (Right - Left);
}

double ValueToY(const Panel& panel, double value) {
    return panel.Bottom -
           (value - panel.Low) / (panel.High - panel.Low) * (panel.Bottom - panel.Top);
}

std::string Format(const char* pattern, double a) {
    char text[64];
    std::snprintf(text, sizeof text, pattern, a);
    return text;
}

// Text for the SVG: a file's name may hold any character.
std::string EscapeText(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '&')
            escaped += "&amp;";
        else if (c == '<')
            escaped += "&lt;";
        else if (c == '>')
            escaped += "&gt;";
        else
            escaped += c;
    }
    return escaped;
}

// A value range with round tick steps that holds every value and zero.
Panel FitPanel(double top, double bottom, const std::vector<double>& a,
               const std::vector<double>& b, const std::vector<double>& steps) {
    double low = 0.0, high = 0.0;
    for (double v : a) low = std::min(low, v), high = std::max(high, v);
    for (double v : b) low = std::min(low, v), high = std::max(high, v);
    double step = steps.back();
    for (double s : steps) {
        if ((high - low) / s <= 8.0) {
            step = s;
            break;
        }
    }
    low = std::floor(low / step - 1e-9) * step;
    high = std::ceil(high / step + 1e-9) * step;
    if (high - low < step) high = low + step;
    // A margin of one step when a curve would touch the frame.
    if (low < 0.0 && high <= 0.0) high = step;
    if (high > 0.0 && low >= 0.0) low = -step;
    return {top, bottom, low, high, step};
}

std::string TickLabel(double value, double step) {
    if (step >= 1.0) return Format("%.0f", value);
    if (step >= 0.1) return Format("%.1f", value);
    if (step >= 0.01) return Format("%.2f", value);
    return Format("%.3f", value);
}

std::string HzLabel(double hz) {
    if (hz >= 1000.0) return Format("%gk", hz / 1000.0);
    return Format("%g", hz);
}

struct FrequencyTick {
    double Hz;
    bool Decade;  // drawn darker
};

// 1, 2 and 5 of every decade, and the axis's end, so that it is labelled to
// the last hertz it shows.
std::vector<FrequencyTick> FrequencyTicks() {
    std::vector<FrequencyTick> ticks;
    for (double decade = PlotLowHz; decade < PlotHighHz; decade *= 10.0) {
        for (double m : {1.0, 2.0, 5.0}) {
            if (decade * m < PlotHighHz) ticks.push_back({decade * m, m == 1.0});
        }
    }
    ticks.push_back({PlotHighHz, false});
    return ticks;
}

std::string Polyline(const Panel& panel, const std::vector<double>& hz,
                     const std::vector<double>& values, const char* style) {
    std::string text = "<polyline fill=\"none\" " + std::string(style) + " points=\"";
    for (size_t i = 0; i < hz.size(); ++i) {
        char point[48];
        std::snprintf(point, sizeof point, "%s%.2f,%.2f", i ? " " : "", HzToX(hz[i]),
                      ValueToY(panel, values[i]));
        text += point;
    }
    return text + "\"/>\n";
}

std::string DrawPanel(const Panel& panel, const char* yLabel, const std::vector<double>& hz,
                      const std::vector<double>& exact, const std::vector<double>& fir) {
    std::string svg;
    char line[256];
    // Frequency grid: decades bold, 2 and 5 light.
    for (const FrequencyTick& tick : FrequencyTicks()) {
        const double x = HzToX(tick.Hz);
        std::snprintf(line, sizeof line,
                      "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\"/>\n", x,
                      panel.Top, x, panel.Bottom, tick.Decade ? "#bbbbbb" : "#e4e4e4");
        svg += line;
        std::snprintf(line, sizeof line,
                      "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">%s</text>\n", x,
                      panel.Bottom + 16.0, HzLabel(tick.Hz).c_str());
        svg += line;
    }
    // Value grid and labels.
    const int ticks = static_cast<int>(std::lround((panel.High - panel.Low) / panel.Step));
    for (int i = 0; i <= ticks; ++i) {
        const double value = panel.Low + i * panel.Step;
        const double y = ValueToY(panel, value);
        std::snprintf(line, sizeof line,
                      "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" stroke=\"%s\"/>\n",
                      Left, y, Right, y, std::fabs(value) < panel.Step / 2 ? "#888888" : "#e4e4e4");
        svg += line;
        std::snprintf(line, sizeof line,
                      "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"end\">%s</text>\n", Left - 6.0,
                      y + 4.0, TickLabel(value, panel.Step).c_str());
        svg += line;
    }
    std::snprintf(line, sizeof line,
                  "<rect x=\"%.2f\" y=\"%.2f\" width=\"%.2f\" height=\"%.2f\" fill=\"none\" "
                  "stroke=\"#000000\"/>\n",
                  Left, panel.Top, Right - Left, panel.Bottom - panel.Top);
    svg += line;
    std::snprintf(line, sizeof line, "<text x=\"20\" y=\"%.2f\">%s</text>\n", panel.Top - 14.0,
                  yLabel);
    svg += line;
    if (!exact.empty()) svg += Polyline(panel, hz, exact, ExactStyle);
    svg += Polyline(panel, hz, fir, FirStyle);
    return svg;
}

// Measured levels as dots on the level panel, each with its value.
constexpr const char* PointColour = "#108040";
std::string DrawPoints(const Panel& panel, const MeasuredPoints& points) {
    std::string svg;
    char line[256];
    for (size_t i = 0; i < points.Hz.size(); ++i) {
        const double x = HzToX(points.Hz[i]), y = ValueToY(panel, points.Db[i]);
        std::snprintf(line, sizeof line,
                      "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"4\" fill=\"%s\"/>\n"
                      "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\" font-size=\"10\" "
                      "fill=\"%s\">%.3f</text>\n",
                      x, y, PointColour, x, y - 8.0, PointColour, points.Db[i]);
        svg += line;
    }
    return svg;
}

// One row: a short line of each curve's style and its name; the exact
// error's only when it is drawn, the measured points' only when there are.
std::string DrawLegend(double x, double y, bool withExact, const std::string& pointsName) {
    std::string svg;
    char line[256];
    const std::pair<const char*, const char*> entries[] = {{ExactStyle, "exact error (analogue)"},
                                                           {FirStyle, "64-tap FIR at 96 kHz"}};
    for (const auto& [style, name] : entries) {
        if (style == ExactStyle && !withExact) continue;
        std::snprintf(line, sizeof line,
                      "<line x1=\"%.2f\" y1=\"%.2f\" x2=\"%.2f\" y2=\"%.2f\" %s/>\n"
                      "<text x=\"%.2f\" y=\"%.2f\">%s</text>\n",
                      x, y - 4.0, x + 30.0, y - 4.0, style, x + 38.0, y, name);
        svg += line;
        x += 240.0;
    }
    if (!pointsName.empty()) {
        std::snprintf(line, sizeof line,
                      "<circle cx=\"%.2f\" cy=\"%.2f\" r=\"4\" fill=\"%s\"/>\n"
                      "<text x=\"%.2f\" y=\"%.2f\">",
                      x + 15.0, y - 4.0, PointColour, x + 38.0, y);
        svg += line + EscapeText(pointsName) + "</text>\n";
    }
    return svg;
}

// The plot of the taps, and of the model's exact error when there is one.
std::string RenderPlot(const std::string& title, const std::string& description,
                       const ErrorModel* model, const double* taps, int count,
                       const MeasuredPoints* points = nullptr) {
    std::vector<double> hz(PlotPoints), exactDb, firDb(PlotPoints), exactDeg, firDeg(PlotPoints);
    if (model) exactDb.resize(PlotPoints), exactDeg.resize(PlotPoints);
    const double degreesPerRadian = 180.0 / std::numbers::pi;
    for (int i = 0; i < PlotPoints; ++i) {
        hz[i] =
            PlotLowHz * std::pow(PlotHighHz / PlotLowHz, static_cast<double>(i) / (PlotPoints - 1));
        const auto fir = FirResponse(taps, count, hz[i], DesignSampleRate);
        firDb[i] = static_cast<double>(20.0L * std::log10(std::abs(fir)));
        firDeg[i] = static_cast<double>(std::arg(fir)) * degreesPerRadian;
        if (!model) continue;
        const auto exact = ExactResponse(*model, hz[i]);
        exactDb[i] = static_cast<double>(20.0L * std::log10(std::abs(exact)));
        exactDeg[i] = static_cast<double>(std::arg(exact)) * degreesPerRadian;
    }
    if (model) UnwrapDegrees(exactDeg.data(), PlotPoints);
    UnwrapDegrees(firDeg.data(), PlotPoints);

    std::vector<double> levels = firDb;
    if (points) levels.insert(levels.end(), points->Db.begin(), points->Db.end());
    const Panel magnitude = FitPanel(90.0, 350.0, exactDb, levels,
                                     {0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0});
    const Panel phase = FitPanel(420.0, 680.0, exactDeg, firDeg,
                                 {0.1, 0.2, 0.5, 1.0, 2.0, 5.0, 10.0, 15.0, 30.0, 45.0, 90.0});

    std::string svg;
    char line[512];
    std::snprintf(line, sizeof line,
                  "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                  "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\" "
                  "stroke=\"none\">\n"
                  "<rect x=\"0\" y=\"0\" width=\"%.0f\" height=\"%.0f\" fill=\"#ffffff\"/>\n",
                  Width, Height, Width, Height, Width, Height);
    svg += line;
    svg += "<text x=\"" + Format("%.2f", Left) +
           "\" y=\"28\" font-size=\"16\" font-weight=\"bold\">" + EscapeText(title) + "</text>\n";
    // A second line of the description, below the first, above the panels.
    const size_t lineEnd = description.find('\n');
    svg += "<text x=\"" + Format("%.2f", Left) + "\" y=\"50\" font-size=\"13\">" +
           EscapeText(description.substr(0, lineEnd)) + "</text>\n";
    if (lineEnd != std::string::npos)
        svg += "<text x=\"" + Format("%.2f", Left) + "\" y=\"68\" font-size=\"11\">" +
               EscapeText(description.substr(lineEnd + 1)) + "</text>\n";
    svg += DrawPanel(magnitude, "Level (dB)", hz, exactDb, firDb);
    if (points) svg += DrawPoints(magnitude, *points);
    svg += DrawPanel(phase, "Phase (degrees)", hz, exactDeg, firDeg);
    std::snprintf(line, sizeof line,
                  "<text x=\"%.2f\" y=\"%.2f\" text-anchor=\"middle\">Frequency (Hz)</text>\n",
                  (Left + Right) / 2.0, phase.Bottom + 38.0);
    svg += line;
    svg += DrawLegend(Left, Height - 16.0, model != nullptr, points ? points->Name : "");
    return svg + "</svg>\n";
}

}  // namespace

std::string RenderResponseSvg(const ErrorModel& model, const double* taps, int count) {
    return RenderPlot(model.Name + ".dat", model.Description, &model, taps, count);
}

std::string RenderTapsSvg(const std::string& title, const std::string& description,
                          const double* taps, int count) {
    return RenderPlot(title, description, nullptr, taps, count);
}

std::string RenderTapsWithPointsSvg(const std::string& title, const std::string& description,
                                    const double* taps, int count, const MeasuredPoints& points) {
    return RenderPlot(title, description, nullptr, taps, count, &points);
}
