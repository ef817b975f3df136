#include "demodata.h"

#include "accounts.h"
#include "packcatalogue.h"
#include "png.h"
#include "versioncatalogue.h"
#include "zipwriter.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::uint32_t kClear = 0x00000000;

Image Crosshair(int size, std::uint32_t colour, bool dot)
{
    Image img(size, size, kClear);
    const int c = size / 2, gap = size / 8, arm = size / 3, thick = std::max(1, size / 32);
    img.FillRect(c - arm, c - thick, arm - gap, 2 * thick, colour);
    img.FillRect(c + gap, c - thick, arm - gap, 2 * thick, colour);
    img.FillRect(c - thick, c - arm, 2 * thick, arm - gap, colour);
    img.FillRect(c - thick, c + gap, 2 * thick, arm - gap, colour);
    if (dot)
        img.FillRect(c - thick, c - thick, 2 * thick, 2 * thick, colour);
    return img;
}

Image Gradient(int w, int h, std::uint32_t top, std::uint32_t bottom)
{
    Image img(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint32_t p = 0xFF000000;
        for (int shift = 0; shift <= 16; shift += 8) {
            const int a = static_cast<int>((top >> shift) & 0xFF),
                      b = static_cast<int>((bottom >> shift) & 0xFF);
            p |= static_cast<std::uint32_t>(a + (b - a) * y / std::max(1, h - 1)) << shift;
        }
        img.FillRect(0, y, w, 1, p);
    }
    return img;
}

Image Checker(int w, int h, std::uint32_t a, std::uint32_t b, int cell)
{
    Image img(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.Set(x, y, ((x / cell + y / cell) % 2) ? a : b);
    return img;
}

// A preview: the pack's picture centred on a dark card.
Image Preview(const Image& art)
{
    Image card = Gradient(96, 64, 0x2B3140, 0x161A22);
    const int ox = (96 - art.width) / 2, oy = (64 - art.height) / 2;
    for (int y = 0; y < art.height; ++y)
        for (int x = 0; x < art.width; ++x) {
            const std::uint32_t p = art.pixels[static_cast<std::size_t>(y * art.width + x)];
            if (p >> 24)
                card.Set(ox + x, oy + y, p | 0xFF000000);
        }
    return card;
}

Image Scaled(const Image& src, int w, int h)
{
    Image out(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            out.Set(
                x, y,
                src.pixels[static_cast<std::size_t>((y * src.height / h) * src.width + x * src.width / w)]);
    return out;
}

// A surface texture: two octaves of smooth value noise shade between two colours, and a
// per-pixel grain gives the detail that keeps the picture, like a photographed one, from
// compressing to almost nothing.
class Texture
{
public:
    explicit Texture(std::uint64_t seed)
        : m_state(seed * 0x9E3779B97F4A7C15ULL + 1)
    {
    }

    Image Make(int w, int h, std::uint32_t dark, std::uint32_t light)
    {
        const std::vector<int> coarse = Lattice(w / 128 + 2, h / 128 + 2),
                               fine = Lattice(w / 16 + 2, h / 16 + 2);
        Image img(w, h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                // 0..255 shade: mostly the large shapes, some of the small ones.
                const int shade = (3 * Smooth(coarse, w / 128 + 2, x, y, 128)
                                   + Smooth(fine, w / 16 + 2, x, y, 16))
                    / 4;
                std::uint32_t p = 0xFF000000;
                for (int shift = 0; shift <= 16; shift += 8) {
                    const int a = static_cast<int>((dark >> shift) & 0xFF),
                              b = static_cast<int>((light >> shift) & 0xFF);
                    const int grain = static_cast<int>(Next() % 49) - 24;
                    p |= static_cast<std::uint32_t>(std::clamp(a + (b - a) * shade / 255 + grain, 0, 255))
                        << shift;
                }
                img.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(w)
                           + static_cast<std::size_t>(x)] = p;
            }
        return img;
    }

private:
    std::uint64_t Next() // xorshift64*: fast, and the same picture for the same seed
    {
        m_state ^= m_state >> 12;
        m_state ^= m_state << 25;
        m_state ^= m_state >> 27;
        return (m_state * 0x2545F4914F6CDD1DULL) >> 32;
    }

    std::vector<int> Lattice(int w, int h)
    {
        std::vector<int> values(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
        for (int& v : values)
            v = static_cast<int>(Next() % 256);
        return values;
    }

    static int Smooth(const std::vector<int>& lattice, int stride, int x, int y, int cell)
    {
        const int cx = x / cell, cy = y / cell, fx = x % cell, fy = y % cell;
        auto at = [&](int i, int j) { return lattice[static_cast<std::size_t>(j * stride + i)]; };
        const int top = at(cx, cy) * (cell - fx) + at(cx + 1, cy) * fx;
        const int bottom = at(cx, cy + 1) * (cell - fx) + at(cx + 1, cy + 1) * fx;
        return (top * (cell - fy) + bottom * fy) / (cell * cell);
    }

    std::uint64_t m_state;
};

std::string TexturePng(std::uint64_t seed, int w, int h, std::uint32_t dark, std::uint32_t light)
{
    return EncodePng(Texture(seed).Make(w, h, dark, light));
}

// The resource pack's wall textures, about 3 MB each, encoded on every core.
std::vector<ZipEntry> WallTextures(int count)
{
    std::vector<ZipEntry> out(static_cast<std::size_t>(count));
    const unsigned workers = std::max(1u, std::min(std::thread::hardware_concurrency(), 8u));
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < workers; ++t)
        threads.emplace_back([&out, t, workers] {
            for (std::size_t i = t; i < out.size(); i += workers) {
                char name[40];
                std::snprintf(name, sizeof name, "Texture/wall_%02zu.png", i + 1);
                out[i] = {name, TexturePng(100 + i, 1024, 1024, 0x3A342C, 0x9C9080)};
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    return out;
}

struct DemoPack
{
    Pack pack;
    std::vector<ZipEntry> entries;
    Image art;
};

// Small packs hold a few KB each. Realistic ones add textures: a few MB in each, and about
// 50 MB in the resource pack, so that a download's progress can be watched.
std::vector<DemoPack> DemoPacks(bool realistic)
{
    std::vector<DemoPack> out;
    const Image red = Crosshair(64, 0xFFFF3030, true);
    const Image green = Crosshair(64, 0xFF30FF60, false);
    out.push_back({{"mark_red.zip", "红点准星", 1, "mark_red.png", "红色十字加中心点，暗处也清楚。"},
                   {{"Mark_01.png", EncodePng(red)},
                    {"Mark_02.png", EncodePng(Crosshair(32, 0xFFFF3030, true))},
                    {"readme.txt", "QX77 demo crosshair marks (red).\r\n"}},
                   red});
    out.push_back(
        {{"mark_green.zip", "绿色十字准星", 1, "mark_green.png", "细线绿色十字，不遮挡目标。"},
         {{"Mark_01.png", EncodePng(green)}, {"readme.txt", "QX77 demo crosshair marks (green).\r\n"}},
         green});
    const Image lobby = Gradient(128, 96, 0x1E5AA8, 0x0B1F3A);
    out.push_back({{"skin_blue.zip", "蓝色经典界面", 2, "skin_blue.png", "大厅和房间界面换成蓝色经典风格。"},
                   {{"Lobby/", {}},
                    {"Lobby/background.png", EncodePng(lobby)},
                    {"Lobby/button.png", EncodePng(Gradient(64, 24, 0x4A90E2, 0x2A5FA8))},
                    {"skin.txt", "QX77 demo interface skin (blue).\r\n"}},
                   Scaled(lobby, 64, 48)});
    const Image wall = Checker(64, 64, 0xFF8A7F70, 0xFF5E554A, 8);
    out.push_back({{"res_clear.zip", "清晰地图资源包", 3, "res_clear.png", "清晰墙面贴图和脚步音效说明。"},
                   {{"Texture/", {}},
                    {"Texture/wall.png", EncodePng(wall)},
                    {"Sound/", {}},
                    {"Sound/footstep.txt", "footstep volume +20%\r\n"},
                    {"pack.txt", "QX77 demo resource pack.\r\n"}},
                   Scaled(wall, 48, 48)});
    if (!realistic)
        return out;

    out[0].entries.push_back({"Mark_Scope.png", TexturePng(1, 1024, 1024, 0x101418, 0x2A3440)});
    out[1].entries.push_back({"Mark_Scope.png", TexturePng(2, 768, 768, 0x0E1A12, 0x25402C)});
    out[2].entries.push_back({"Lobby/background_hd.png", TexturePng(3, 1024, 768, 0x0B1F3A, 0x1E5AA8)});
    out[2].entries.push_back({"Lobby/panel.png", TexturePng(4, 512, 512, 0x1A2A40, 0x2A5FA8)});
    std::vector<ZipEntry> walls = WallTextures(16);
    std::vector<ZipEntry>& res = out[3].entries;
    res.insert(res.begin() + 2, std::make_move_iterator(walls.begin()), std::make_move_iterator(walls.end()));
    return out;
}

bool WriteFile(const fs::path& path, const std::string& data)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

} // namespace

bool MakeDemoData(const std::string& dataDir, std::string* error, const DemoOptions& options)
{
    auto fail = [error](const std::string& why) {
        if (error)
            *error = why;
        return false;
    };
    const fs::path root = dataDir;
    std::error_code ec;
    for (const fs::path& dir :
         {root / layout::kPacks, root / layout::kPreviews, (root / layout::kRepairArchive).parent_path()})
        if (fs::create_directories(dir, ec); ec)
            return fail("cannot create " + dir.string() + ": " + ec.message());

    std::vector<Pack> catalogue;
    std::string why;
    for (DemoPack& demo : DemoPacks(options.realisticPacks)) {
        if (!WriteZip((root / layout::kPacks / demo.pack.file).string(), demo.entries, &why))
            return fail(why);
        if (!WriteFile(root / layout::kPreviews / demo.pack.preview, EncodePng(Preview(demo.art))))
            return fail("cannot write preview " + demo.pack.preview);
        catalogue.push_back(demo.pack);
    }
    if (!SaveCatalogue(dataDir, catalogue))
        return fail("cannot write the catalogue");

    const std::vector<ZipEntry> repair = {
        {"rez/", {}},
        {"rez/UI/", {}},
        {"rez/UI/Mark/", {}},
        {"rez/UI/Mark/Mark_01.png", EncodePng(Crosshair(64, 0xFFFFFFFF, false))},
        {"rez/UI/Lobby/", {}},
        {"rez/UI/Lobby/background.png", EncodePng(Gradient(128, 96, 0x505050, 0x202020))},
        {"repair.txt", "QX77 demo repair archive: restores the default interface files.\r\n"},
    };
    if (!WriteZip((root / layout::kRepairArchive).string(), repair, &why))
        return fail(why);

    if (!SaveRelease((root / layout::kVersions).string(),
                     {kDemoVersion, kDemoSertime, "http://127.0.0.1:8088/download/YFZS-1.0.0.zip"}))
        return fail("cannot write the version catalogue");

    Accounts accounts;
    if (!accounts.Open(options.database.empty() ? (root / layout::kAccounts).string() : options.database,
                       &why))
        return fail("accounts: " + why);
    const auto result = accounts.Register(kDemoUser, kDemoPassword);
    if (result != Accounts::RegisterResult::Created && result != Accounts::RegisterResult::Duplicate)
        return fail("cannot create the demo account");
    return true;
}
