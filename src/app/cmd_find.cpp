// FrmMain's 查询 button: select the blocks by GPS time and plot one channel.
#include "app/frm_main.h"
#include "app/messages.h"
#include "app/query.h"

namespace zqd {

void FrmMain::CmdFind_Click() {
    QueryInput in;
    for (std::size_t i = 0; i < 3; ++i) {
        in.from[i] = TxtFormT[i].Text;
        in.to[i] = TxtToT[i].Text;
    }
    in.channel = TxtDispChnNo.Text;
    in.blockTime = &BlockTime;
    in.blockData = &Record.BlockData;
    in.BlockNum = Record.BlockNum;
    in.ChnPoints = Record.ChnPoints;
    in.ChnNum = Record.ChnNum;

    auto found = RunQuery(in);
    if (!found) {
        LastQuery = found.status();
        AppendLog(app::Text(LastQuery));
        return;
    }
    QueryResult& r = *found;
    LastQuery = Status::Ok();
    QueryStartFound = r.startFound;
    QueryEndFound = r.endFound;
    DispData.swap(r.DispData);
    DispPoints = r.DispPoints;
    StartNS = r.StartNS;
    Set(TxtDispChnNo, r.channelText);

    // User coordinates: x 0..DispPoints left to right, y 65735 at the top to
    // -200 at the bottom; the series as one red trace.
    PicDraw.Left = 0;
    PicDraw.Top = 65735;
    PicDraw.Right = DispPoints;
    PicDraw.Bottom = -200;
    PicDraw.Trace = DispData;
    PicDraw.Color = 255;
    ++PicDraw.Generation;
}

}  // namespace zqd
