<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
<context>
    <name>CaptureAnalysis</name>
    <message>
        <source>TCP会话...</source>
        <translation>TCP Conversations...</translation>
    </message>
</context>
<context>
    <name>CaptureFilterRow</name>
    <message>
        <source>捕获过滤表达式有误：%1</source>
        <translation>The capture filter is wrong: %1</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>立即开始捕获(与 -i 一起使用)</source>
        <translation>Start capturing at once (with -i)</translation>
    </message>
    <message>
        <source>在十六进制窗口中打开文件</source>
        <translation>Open a file in a hex window</translation>
    </message>
    <message>
        <source>捕获并显示TCP数据包</source>
        <translation>Captures and shows TCP segments</translation>
    </message>
    <message>
        <source>启动时打开的捕获文件(pcap 或 pcapng)</source>
        <translation>Capture file to open at start (pcap or pcapng)</translation>
    </message>
    <message>
        <source>用 --help 查看可用的选项。</source>
        <translation>See --help for the options.</translation>
    </message>
    <message>
        <source>文件不存在: %1</source>
        <translation>No such file: %1</translation>
    </message>
    <message>
        <source>无法读取文件: %1</source>
        <translation>Cannot read the file: %1</translation>
    </message>
    <message>
        <source>只能打开一个文件: %1</source>
        <translation>Only one file can be opened: %1</translation>
    </message>
    <message>
        <source>--hex 不能与捕获文件、-i 或 -k 一起使用</source>
        <translation>--hex cannot be used with a capture file, -i or -k</translation>
    </message>
    <message>
        <source>-k 需要用 -i 指定网卡</source>
        <translation>-k needs an adapter given with -i</translation>
    </message>
    <message>
        <source>不能同时打开文件和开始捕获</source>
        <translation>Cannot open a file and start capturing at once</translation>
    </message>
    <message>
        <source>没有这个网卡: %1</source>
        <translation>No such adapter: %1</translation>
    </message>
    <message>
        <source>选择要捕获的网卡, 或远程主机的网卡: ssh://[用户@]主机[:端口]/网卡</source>
        <translation>Choose the adapter to capture on, or an interface of another host: ssh://[user@]host[:port]/interface</translation>
    </message>
    <message>
        <source>用该TLS密钥日志 (SSLKEYLOGFILE 的格式) 解密TLS流</source>
        <translation>Decrypt TLS streams with the secrets of this key log (SSLKEYLOGFILE format)</translation>
    </message>
</context>
<context>
    <name>ConversationsModel</name>
    <message>
        <source>发出连接第一段的一方</source>
        <translation>The side that sent the connection&apos;s first segment</translation>
    </message>
    <message>
        <source>负载的字节数</source>
        <translation>Payload bytes</translation>
    </message>
    <message>
        <source>自第一行起的秒数</source>
        <translation>Seconds since the first row</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>Seconds</translation>
    </message>
    <message>
        <source>负载的比特每秒</source>
        <translation>Payload bits per second</translation>
    </message>
    <message>
        <source>备注中有标记的行数</source>
        <translation>Rows with a mark in the Note column</translation>
    </message>
    <message>
        <source>地址A</source>
        <translation>Address A</translation>
    </message>
    <message>
        <source>端口A</source>
        <translation>Port A</translation>
    </message>
    <message>
        <source>地址B</source>
        <translation>Address B</translation>
    </message>
    <message>
        <source>端口B</source>
        <translation>Port B</translation>
    </message>
    <message>
        <source>包数 A→B</source>
        <translation>Packets A→B</translation>
    </message>
    <message>
        <source>字节 A→B</source>
        <translation>Bytes A→B</translation>
    </message>
    <message>
        <source>包数 B→A</source>
        <translation>Packets B→A</translation>
    </message>
    <message>
        <source>字节 B→A</source>
        <translation>Bytes B→A</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>持续时间</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>速率 A→B</source>
        <translation>Rate A→B</translation>
    </message>
    <message>
        <source>速率 B→A</source>
        <translation>Rate B→A</translation>
    </message>
    <message>
        <source>服务器名</source>
        <translation>Server name</translation>
    </message>
    <message>
        <source>标记行数</source>
        <translation>Marked rows</translation>
    </message>
</context>
<context>
    <name>ConversationsWindow</name>
    <message>
        <source>只显示此会话</source>
        <translation>Show only these connections</translation>
    </message>
    <message>
        <source>复制为CSV</source>
        <translation>Copy as CSV</translation>
    </message>
    <message>
        <source>TCP会话</source>
        <translation>TCP Conversations</translation>
    </message>
    <message>
        <source>地址, 端口, 地址:端口 或服务器名</source>
        <translation>Address, port, address:port or server name</translation>
    </message>
    <message>
        <source>显示全部行</source>
        <translation>Show all rows</translation>
    </message>
    <message>
        <source>查找:</source>
        <translation>Find:</translation>
    </message>
    <message>
        <source>%1 / %2 个会话</source>
        <translation>%1 / %2 connections</translation>
    </message>
    <message>
        <source>%1 个会话</source>
        <translation>%1 connections</translation>
    </message>
</context>
<context>
    <name>FindBarControls</name>
    <message>
        <source>上一个</source>
        <translation>Previous</translation>
    </message>
    <message>
        <source>查找上一个 (Shift+F3)</source>
        <translation>Find previous (Shift+F3)</translation>
    </message>
    <message>
        <source>下一个</source>
        <translation>Next</translation>
    </message>
    <message>
        <source>查找下一个 (F3)</source>
        <translation>Find next (F3)</translation>
    </message>
    <message>
        <source>关闭 (Esc)</source>
        <translation>Close (Esc)</translation>
    </message>
    <message>
        <source>已到达末尾，从开头继续查找</source>
        <translation>Reached the end, continued from the start</translation>
    </message>
    <message>
        <source>已到达开头，从末尾继续查找</source>
        <translation>Reached the start, continued from the end</translation>
    </message>
</context>
<context>
    <name>FitWid</name>
    <message>
        <source>Form</source>
        <translation>Form</translation>
    </message>
    <message>
        <source>包含IP</source>
        <translation>Include IPs</translation>
    </message>
    <message>
        <source>127.0.1.1|192.168.0.1</source>
        <translation>127.0.1.1|192.168.0.1</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>包含端口</source>
        <translation>Include ports</translation>
    </message>
    <message>
        <source>80|8888</source>
        <translation>80|8888</translation>
    </message>
    <message>
        <source>数据标志</source>
        <translation>Data flag</translation>
    </message>
    <message>
        <source>HTTP</source>
        <translation>HTTP</translation>
    </message>
    <message>
        <source>不含IP</source>
        <translation>Exclude IPs</translation>
    </message>
    <message>
        <source>127.0.1.1|192.168.0.1.1</source>
        <translation>127.0.1.1|192.168.0.1.1</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>不含端口</source>
        <translation>Exclude ports</translation>
    </message>
    <message>
        <source>443</source>
        <translation>443</translation>
    </message>
    <message>
        <source>多组数据以 | 分割，开始抓包前设置，否则无效。标志暂无功能</source>
        <translation>Separate several entries with |. Set them before starting a capture, or they have no effect. The data flag does nothing yet.</translation>
    </message>
    <message>
        <source>捕获过滤</source>
        <translation>Capture filter</translation>
    </message>
    <message>
        <source>tcp port 443 and host 10.0.0.1</source>
        <translation>tcp port 443 and host 10.0.0.1</translation>
    </message>
    <message>
        <source>应用到已显示的行</source>
        <translation>Apply to the rows shown</translation>
    </message>
    <message>
        <source>按“应用到已显示的行”时生效: 只显示TCP分析标记了的行(重传, 乱序, 零窗口等)</source>
        <translation>Takes effect with “Apply to the rows shown”: shows only the rows that the TCP analysis marked (retransmission, out of order, zero window and so on)</translation>
    </message>
    <message>
        <source>只显示有标记的行</source>
        <translation>Show only marked rows</translation>
    </message>
    <message>
        <source>过滤规则 (用于之后的抓包和打开的文件, 也可应用到已显示的行)</source>
        <translation>Filter rules: for later captures and files, and the rows shown</translation>
    </message>
</context>
<context>
    <name>FollowStream</name>
    <message>
        <source>追踪TCP流</source>
        <translation>Follow TCP Stream</translation>
    </message>
    <message>
        <source>请先选择一行。</source>
        <translation>Select a row first.</translation>
    </message>
    <message>
        <source>该行的帧已不在存储中, 无法追踪其TCP流。</source>
        <translation>The row&apos;s frame is no longer stored; its TCP stream cannot be followed.</translation>
    </message>
    <message>
        <source>正在读取该连接的 %1 帧…</source>
        <translation>Reading the connection&apos;s %1 frames…</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>FollowTls</name>
    <message>
        <source>追踪TLS流</source>
        <translation>Follow TLS Stream</translation>
    </message>
    <message>
        <source>该行的帧已不在存储中, 无法追踪其TLS流。</source>
        <translation>The row&apos;s frame is no longer stored; its TLS stream cannot be followed.</translation>
    </message>
    <message>
        <source>该连接不是TLS连接 (或其ClientHello未被捕获), 无法解密。</source>
        <translation>The connection is not TLS (or its ClientHello was not captured); it cannot be decrypted.</translation>
    </message>
    <message>
        <source>已加载的TLS密钥日志中没有该连接的密钥。请用 &quot;文件&quot; 菜单的 &quot;TLS密钥日志...&quot; 加载写下它的密钥日志 (SSLKEYLOGFILE)。</source>
        <translation>The loaded TLS key logs hold no secrets for this connection. Load the key log that recorded them (SSLKEYLOGFILE) with &quot;TLS Key Log...&quot; in the File menu.</translation>
    </message>
    <message>
        <source>解密TLS流</source>
        <translation>Decrypt TLS</translation>
    </message>
    <message>
        <source>用密钥日志中的密钥解密该连接</source>
        <translation>Decrypt this connection with the secrets of the key log</translation>
    </message>
    <message>
        <source>已加载的TLS密钥日志中没有该连接的密钥</source>
        <translation>The loaded TLS key logs hold no secrets for this connection</translation>
    </message>
    <message>
        <source>该连接的密码套件 (0x%1) 无法解密: 只能解密TLS 1.3的套件和TLS 1.2的AES-GCM与ChaCha20-Poly1305套件。</source>
        <translation>The cipher suite of this connection (0x%1) cannot be decrypted: only the suites of TLS 1.3 and the AES-GCM and ChaCha20-Poly1305 suites of TLS 1.2 can.</translation>
    </message>
</context>
<context>
    <name>FollowWindow</name>
    <message>
        <source>整个会话</source>
        <translation>Whole conversation</translation>
    </message>
    <message>
        <source>显示:</source>
        <translation>Show:</translation>
    </message>
</context>
<context>
    <name>GraphWindow</name>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>保存图片...</source>
        <translation>Save Picture...</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>查看</source>
        <translation>View</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Zoom In</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Zoom Out</translation>
    </message>
    <message>
        <source>显示全部</source>
        <translation>Show All</translation>
    </message>
    <message>
        <source>滚轮缩放 (Ctrl: 只缩放时间), 拖动平移, 方向键平移, Home 显示全部; 单击一个点选中它的行</source>
        <translation>Wheel zooms (Ctrl: time only), drag or arrow keys pan, Home shows all; click a point to select its row</translation>
    </message>
    <message>
        <source>第 %1 行 (被筛选隐藏)</source>
        <translation>Row %1 (hidden by the filter)</translation>
    </message>
    <message>
        <source>第 %1 行</source>
        <translation>Row %1</translation>
    </message>
    <message>
        <source>保存图片</source>
        <translation>Save Picture</translation>
    </message>
    <message>
        <source>无法写入图片: %1</source>
        <translation>Cannot write the picture: %1</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png);;PDF 文件 (*.pdf)</source>
        <translation>PNG images (*.png);;PDF files (*.pdf)</translation>
    </message>
    <message>
        <source>表格已清空, 此图的行已不在其中</source>
        <translation>The table was cleared: the rows of this graph are no longer in it</translation>
    </message>
</context>
<context>
    <name>HexFileSaver</name>
    <message>
        <source>无法读取偏移 %1 处的数据</source>
        <translation>Cannot read the data at offset %1</translation>
    </message>
    <message>
        <source>保存已取消</source>
        <translation>Saving cancelled</translation>
    </message>
</context>
<context>
    <name>HexFindBar</name>
    <message>
        <source>十六进制</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>查找:</source>
        <translation>Find:</translation>
    </message>
    <message>
        <source>文本 (UTF-8)</source>
        <translation>Text (UTF-8)</translation>
    </message>
    <message>
        <source>十六进制格式错误: 需成对的数字</source>
        <translation>Malformed hex: digits must come in pairs</translation>
    </message>
    <message>
        <source>十六进制字节，如 4F 4B</source>
        <translation>Hex bytes, e.g. 4F 4B</translation>
    </message>
    <message>
        <source>查找已取消</source>
        <translation>Search cancelled</translation>
    </message>
    <message>
        <source>请输入要查找的内容</source>
        <translation>Enter something to find</translation>
    </message>
    <message>
        <source>正在查找...</source>
        <translation>Searching...</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>Not found</translation>
    </message>
</context>
<context>
    <name>HexStatusBar</name>
    <message>
        <source>只读</source>
        <translation>Read-only</translation>
    </message>
    <message>
        <source>偏移: 0x%1 (%2)</source>
        <translation>Offset: 0x%1 (%2)</translation>
    </message>
    <message>
        <source>选中: %1 字节</source>
        <translation>Selected: %1 bytes</translation>
    </message>
    <message>
        <source>u8: %1  s8: %2  u16 LE: %3  u32 LE: %4</source>
        <translation>u8: %1  s8: %2  u16 LE: %3  u32 LE: %4</translation>
    </message>
</context>
<context>
    <name>HexWindow</name>
    <message>
        <source>HexEdit 十六进制查看编辑</source>
        <translation>HexEdit hex viewer and editor</translation>
    </message>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>打开文件</source>
        <translation>Open file</translation>
    </message>
    <message>
        <source>无法打开文件 %1:
%2</source>
        <translation>Cannot open the file %1:
%2</translation>
    </message>
    <message>
        <source>这是一个文件夹</source>
        <translation>This is a folder</translation>
    </message>
    <message>
        <source>文件不存在</source>
        <translation>The file does not exist</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>打开文件...</source>
        <translation>Open file...</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>另存为...</source>
        <translation>Save as...</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>编辑</source>
        <translation>Edit</translation>
    </message>
    <message>
        <source>撤销</source>
        <translation>Undo</translation>
    </message>
    <message>
        <source>重做</source>
        <translation>Redo</translation>
    </message>
    <message>
        <source>剪切</source>
        <translation>Cut</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>复制为十六进制</source>
        <translation>Copy as hex</translation>
    </message>
    <message>
        <source>粘贴</source>
        <translation>Paste</translation>
    </message>
    <message>
        <source>全选</source>
        <translation>Select all</translation>
    </message>
    <message>
        <source>查找...</source>
        <translation>Find...</translation>
    </message>
    <message>
        <source>查找下一个</source>
        <translation>Find next</translation>
    </message>
    <message>
        <source>查找上一个</source>
        <translation>Find previous</translation>
    </message>
    <message>
        <source>转到偏移...</source>
        <translation>Go to offset...</translation>
    </message>
    <message>
        <source>查看</source>
        <translation>View</translation>
    </message>
    <message>
        <source>每行 %1 字节</source>
        <translation>%1 bytes per line</translation>
    </message>
    <message>
        <source>放大字体</source>
        <translation>Larger font</translation>
    </message>
    <message>
        <source>缩小字体</source>
        <translation>Smaller font</translation>
    </message>
    <message>
        <source> [只读]</source>
        <translation> [read-only]</translation>
    </message>
    <message>
        <source>&quot;%1&quot; 不是有效的偏移: 请输入十六进制 (0x1F40)、十进制 (8000) 或相对偏移 (+100, -0x10)</source>
        <translation>&quot;%1&quot; is not a valid offset: enter hex (0x1F40), decimal (8000) or a relative offset (+100, -0x10)</translation>
    </message>
    <message>
        <source>偏移超出范围: 有效范围为 0 到 %1 (0x%2)</source>
        <translation>Offset out of range: valid offsets are 0 to %1 (0x%2)</translation>
    </message>
    <message>
        <source>转到偏移</source>
        <translation>Go to offset</translation>
    </message>
    <message>
        <source>偏移 (0x 十六进制、十进制, 或 +/- 相对):</source>
        <translation>Offset (0x hex, decimal, or +/- relative):</translation>
    </message>
    <message>
        <source>正在保存 %1...</source>
        <translation>Saving %1...</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>保存失败</source>
        <translation>Save failed</translation>
    </message>
    <message>
        <source>无法保存 %1:
%2
原文件未被改动。</source>
        <translation>Cannot save %1:
%2
The original file is unchanged.</translation>
    </message>
    <message>
        <source>另存为</source>
        <translation>Save as</translation>
    </message>
    <message>
        <source>文件 %1 已修改。
是否保存修改?</source>
        <translation>The file %1 has been modified.
Save the changes?</translation>
    </message>
    <message>
        <source>内存不足，无法完成此操作。</source>
        <translation>There is not enough memory to do this.</translation>
    </message>
    <message>
        <source>选中的 %1 MiB 太多，剪贴板放不下: 现在最多可复制 %2 MiB。
请用“文件 &gt; 另存为...”把数据保存到文件。</source>
        <translation>The %1 MiB selected are too much for the clipboard: at most %2 MiB can be copied now.
Use “File &gt; Save as...” to save the data to a file.</translation>
    </message>
    <message>
        <source>数据已修改，尚未保存到文件。
是否另存为文件?</source>
        <translation>The data has been modified and is not saved in a file.
Save it as a file?</translation>
    </message>
</context>
<context>
    <name>ListFieldMarker</name>
    <message>
        <source>以下条目不是IP地址，不会匹配任何数据包（仍照原样使用）：</source>
        <translation>These entries are not IP addresses and will match no packet (they are still used as typed):</translation>
    </message>
    <message>
        <source>以下条目不是端口号，不会匹配任何数据包（仍照原样使用）：</source>
        <translation>These entries are not port numbers and will match no packet (they are still used as typed):</translation>
    </message>
    <message>
        <source>，共%1项</source>
        <translation>, %1 in all</translation>
    </message>
</context>
<context>
    <name>ListNotice</name>
    <message>
        <source>过滤列表: %1</source>
        <translation>Lists: %1</translation>
    </message>
    <message>
        <source>之后的抓包和打开的文件只显示这些列表放过的行: %1</source>
        <translation>Captures and files from now on show only the rows these lists let through: %1</translation>
    </message>
    <message>
        <source>显示的行已按列表缩小</source>
        <translation>Table narrowed by the lists</translation>
    </message>
    <message>
        <source>表格只显示“应用到已显示的行”时的列表放过的行, 新来的行也一样。</source>
        <translation>The table shows only the rows that the lists of &quot;Apply to the rows shown&quot; let through, new rows too.</translation>
    </message>
    <message>
        <source>点击打开“过滤规则”。</source>
        <translation>Click to open &quot;Filters&quot;.</translation>
    </message>
    <message>
        <source>包含IP</source>
        <translation>Include IPs</translation>
    </message>
    <message>
        <source>包含端口</source>
        <translation>Include ports</translation>
    </message>
    <message>
        <source>不含IP</source>
        <translation>Exclude IPs</translation>
    </message>
    <message>
        <source>不含端口</source>
        <translation>Exclude ports</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>MainWindow</source>
        <translation>MainWindow</translation>
    </message>
    <message>
        <source>选择网卡</source>
        <translation>Adapter</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>协议</source>
        <translation>Protocol</translation>
    </message>
    <message>
        <source>源IP</source>
        <translation>Source IP</translation>
    </message>
    <message>
        <source>源端口</source>
        <translation>Source port</translation>
    </message>
    <message>
        <source>目标IP</source>
        <translation>Dest. IP</translation>
    </message>
    <message>
        <source>目标端口</source>
        <translation>Dest. port</translation>
    </message>
    <message>
        <source>数据长度</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>数据-Hex</source>
        <translation>Data (hex)</translation>
    </message>
    <message>
        <source>备注</source>
        <translation>Note</translation>
    </message>
    <message>
        <source>清空</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>过滤规则</source>
        <translation>Filters</translation>
    </message>
    <message>
        <source>ToAscii</source>
        <translation>ToAscii</translation>
    </message>
    <message>
        <source>ToUTF8</source>
        <translation>ToUTF8</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>HexView</source>
        <translation>HexView</translation>
    </message>
    <message>
        <source>长度:</source>
        <translation>Length:</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>黑色主题</source>
        <translation>Dark theme</translation>
    </message>
    <message>
        <source>停止捕获</source>
        <translation>Capture stopped</translation>
    </message>
    <message>
        <source>Tarnlook -- 网卡流量捕获</source>
        <translation>Tarnlook -- adapter traffic capture</translation>
    </message>
    <message>
        <source>默认显示UTF8数据</source>
        <translation>Shows the payload as UTF-8 by default</translation>
    </message>
    <message>
        <source>err</source>
        <translation>Error</translation>
    </message>
    <message>
        <source>正在侦听网卡-&gt;</source>
        <translation>Capturing on adapter-&gt;</translation>
    </message>
    <message>
        <source>open pcap fail</source>
        <translation>Cannot open the capture</translation>
    </message>
    <message>
        <source>亮色主题</source>
        <translation>Light theme</translation>
    </message>
    <message>
        <source>网卡的选择,一般选择连接互联网的网卡,可使用终端命令 ip addr查看自己所使用的网卡。</source>
        <translation>As the adapter, usually choose the one connected to the Internet; the terminal command ip addr shows your adapters. </translation>
    </message>
    <message>
        <source>暂时只支持tcp协议的,如需更多功能可以选择wireshark。

</source>
        <translation>Only TCP is supported for now; for more, use Wireshark.

</translation>
    </message>
    <message>
        <source>请勿用于非法用途,否则责任自负</source>
        <translation>Do not use it for illegal purposes; you alone are responsible for what you do with it.</translation>
    </message>
    <message>
        <source>没有捕获网卡的权限。请安装tarnlook软件包, 用 sudo usermod -aG tarnlook $USER 把当前用户加入tarnlook组, 然后重新登录。</source>
        <translation>No permission to capture on this adapter. Install the tarnlook package, add yourself to the tarnlook group with sudo usermod -aG tarnlook $USER, then log in again.</translation>
    </message>
    <message>
        <source>文件</source>
        <translation>File</translation>
    </message>
    <message>
        <source>打开...</source>
        <translation>Open...</translation>
    </message>
    <message>
        <source>Ctrl+O</source>
        <translation>Ctrl+O</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>Ctrl+S</source>
        <translation>Ctrl+S</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>捕获文件 (*.pcap *.pcapng *.cap *.dmp);;所有文件 (*)</source>
        <translation>Capture files (*.pcap *.pcapng *.cap *.dmp);;All files (*)</translation>
    </message>
    <message>
        <source>打开捕获文件</source>
        <translation>Open capture file</translation>
    </message>
    <message>
        <source>保存捕获文件</source>
        <translation>Save capture file</translation>
    </message>
    <message>
        <source> (内核丢弃了 %1 个数据包)</source>
        <translation> (the kernel dropped %1 packets)</translation>
    </message>
    <message>
        <source> (表格来不及显示, 丢弃了 %1 行)</source>
        <translation> (the table fell behind: %1 rows dropped)</translation>
    </message>
    <message>
        <source>正在捕获,请先停止再打开文件。</source>
        <translation>A capture is running; stop it before opening a file.</translation>
    </message>
    <message>
        <source>打开文件失败: %1
%2</source>
        <translation>Cannot open the file: %1
%2</translation>
    </message>
    <message>
        <source>打开文件失败: %1
不支持这个文件的链路类型: %2</source>
        <translation>Cannot open the file: %1
Its link type is not supported: %2</translation>
    </message>
    <message>
        <source>正在读取文件-&gt;</source>
        <translation>Reading file-&gt;</translation>
    </message>
    <message>
        <source>%1 (%2 行, %3%)</source>
        <translation>%1 (%2 rows, %3%)</translation>
    </message>
    <message>
        <source>正在保存 %1 个数据包...</source>
        <translation>Saving %1 packets...</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>保存文件失败: %1
%2</source>
        <translation>Cannot save the file: %1
%2</translation>
    </message>
    <message>
        <source>不支持这个数据源的链路类型: %1
无法从中解析TCP数据包,捕获已停止。</source>
        <translation>The link type of this source is not supported: %1
No TCP segments can be read from it; the capture has stopped.</translation>
    </message>
    <message>
        <source>写入临时捕获数据失败,捕获已停止: %1
表中已有 %2 行。</source>
        <translation>Cannot write the captured frames; the capture has stopped: %1
The table holds %2 rows.</translation>
    </message>
    <message>
        <source>可用内存不足,捕获已自动停止。
表中已有 %1 行,仍可保存。</source>
        <translation>Memory is running short; the capture has stopped by itself.
The table holds %1 rows, which can still be saved.</translation>
    </message>
    <message>
        <source>临时目录所在磁盘的剩余空间不足,捕获已自动停止。
表中已有 %1 行,仍可保存。</source>
        <translation>The disk of the temporary folder is running out of space; the capture has stopped by itself.
The table holds %1 rows, which can still be saved.</translation>
    </message>
    <message>
        <source>捕获出错而停止: %1
表中已有 %2 行。</source>
        <translation>The capture stopped on an error: %1
The table holds %2 rows.</translation>
    </message>
    <message>
        <source>这个pcapng文件的接口使用了不同的链路类型,只能读到这里: %1
表中已有 %2 行。</source>
        <translation>The interfaces of this pcapng file use different link types; it can be read only this far: %1
The table holds %2 rows.</translation>
    </message>
    <message>
        <source>上次的捕获过滤表达式已无法使用,已关闭: %1</source>
        <translation>The capture filter remembered from last time no longer works and was turned off: %1</translation>
    </message>
    <message>
        <source>%1: %2 帧, 显示 %3 行</source>
        <translation>%1: %2 frames, %3 rows shown</translation>
    </message>
    <message>
        <source>捕获的帧无处保存, 行的负载无法查看, 也无法保存到文件: %1</source>
        <translation>There is no place to keep the captured frames: payloads cannot be shown or saved to a file: %1</translation>
    </message>
    <message>
        <source>保存文件失败: %1
%2 行的帧没有保存下来, 无法写入文件。%3</source>
        <translation>Saving the file failed: %1
The frames of %2 rows were not kept and cannot be written. %3</translation>
    </message>
    <message>
        <source>获取网卡设备失败  请确认已经安装tarnlook软件包, 并用 sudo usermod -aG tarnlook $USER 把当前用户加入tarnlook组, 然后重新登录。见README</source>
        <translation>Cannot list the network adapters. Make sure that the tarnlook package is installed, add yourself to the group tarnlook with sudo usermod -aG tarnlook $USER and log in again. See the README.</translation>
    </message>
    <message>
        <source>本软件基于libpcap开发,抓包由tarnlook-capture完成: 安装tarnlook软件包, 用 sudo usermod -aG tarnlook $USER 加入tarnlook组并重新登录即可, 无需以root身份运行本窗口
</source>
        <translation>This program is built on libpcap; tarnlook-capture does the capturing: install the tarnlook package, join the group tarnlook with sudo usermod -aG tarnlook $USER and log in again. There is no need to run this window as root.
</translation>
    </message>
    <message>
        <source>统计</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>TLS密钥日志...</source>
        <translation>TLS Key Log...</translation>
    </message>
    <message>
        <source> (过滤列表滤掉了 %1 行)</source>
        <translation> (the filter lists kept out %1 rows)</translation>
    </message>
    <message>
        <source>%1: %2 帧, 显示 %3 行, 过滤列表滤掉 %4 行</source>
        <translation>%1: %2 frames, %3 rows shown, %4 kept out by the filter lists</translation>
    </message>
    <message>
        <source>远程抓包</source>
        <translation>Remote capture</translation>
    </message>
    <message>
        <source>抓包已停止</source>
        <translation>Capture stopped</translation>
    </message>
    <message>
        <source>已保存 %1 个数据包到 %2</source>
        <translation>Saved %1 packets to %2</translation>
    </message>
</context>
<context>
    <name>PacketFindBar</name>
    <message>
        <source>区分大小写</source>
        <translation>Match case</translation>
    </message>
    <message>
        <source>查找:</source>
        <translation>Find:</translation>
    </message>
    <message>
        <source>负载中的文本</source>
        <translation>Text in the payload</translation>
    </message>
    <message>
        <source>负载中的十六进制字节</source>
        <translation>Hex bytes in the payload</translation>
    </message>
    <message>
        <source>十六进制字节，如 4F 4B</source>
        <translation>Hex bytes, e.g. 4F 4B</translation>
    </message>
    <message>
        <source>文本 (UTF-8)</source>
        <translation>Text (UTF-8)</translation>
    </message>
    <message>
        <source>查找...</source>
        <translation>Find...</translation>
    </message>
    <message>
        <source>查找下一个</source>
        <translation>Find next</translation>
    </message>
    <message>
        <source>查找上一个</source>
        <translation>Find previous</translation>
    </message>
    <message>
        <source>查找已取消</source>
        <translation>Search cancelled</translation>
    </message>
    <message>
        <source>正在查找...</source>
        <translation>Searching...</translation>
    </message>
    <message>
        <source>未找到</source>
        <translation>Not found</translation>
    </message>
    <message>
        <source>查找</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>字段 (地址, 端口, 时间, 长度, 备注)</source>
        <translation>Fields (address, port, time, length, note)</translation>
    </message>
    <message>
        <source>如 10.0.0.1, 5432 或 重传</source>
        <translation>e.g. 10.0.0.1, 5432 or Retransmission</translation>
    </message>
</context>
<context>
    <name>PacketSearch</name>
    <message>
        <source>请输入要查找的内容</source>
        <translation>Enter something to find</translation>
    </message>
    <message>
        <source>十六进制格式错误: &quot;%1&quot; 不是十六进制数字</source>
        <translation>Malformed hex: &quot;%1&quot; is not a hex digit</translation>
    </message>
    <message>
        <source>十六进制格式错误: 数字须成对, 每个字节两位</source>
        <translation>Malformed hex: digits must come in pairs, two per byte</translation>
    </message>
</context>
<context>
    <name>Privileges</name>
    <message>
        <source>本窗口正以root身份或带特权能力解析网络数据, 风险大。请以普通用户运行: 用 sudo usermod -aG tarnlook $USER 加入tarnlook组, 再重新登录。</source>
        <translation>Risky: this window parses network data as root or with capabilities. Run it as an ordinary user instead: join the group tarnlook (sudo usermod -aG tarnlook $USER), then log in again.</translation>
    </message>
</context>
<context>
    <name>QHexDocument</name>
    <message>
        <source>目标未以写入方式打开</source>
        <translation>The target is not open for writing</translation>
    </message>
    <message>
        <source>无法读取偏移 %1 处的数据</source>
        <translation>Cannot read the data at offset %1</translation>
    </message>
    <message>
        <source>写入未完成</source>
        <translation>The write did not complete</translation>
    </message>
</context>
<context>
    <name>QHexRenderer</name>
    <message>
        <source>偏移</source>
        <translation>Offset</translation>
    </message>
    <message>
        <source>文本</source>
        <translation>Ascii</translation>
    </message>
</context>
<context>
    <name>RemoteCaptureDialog</name>
    <message>
        <source>列出网卡</source>
        <translation>List interfaces</translation>
    </message>
    <message>
        <source>用sudo</source>
        <translation>Use sudo</translation>
    </message>
    <message>
        <source>远程抓包</source>
        <translation>Remote capture</translation>
    </message>
    <message>
        <source>主机名或地址</source>
        <translation>Host name or address</translation>
    </message>
    <message>
        <source>默认: ssh的设置</source>
        <translation>Default: as ssh is set up</translation>
    </message>
    <message>
        <source>在远程主机上用 sudo -n 运行tcpdump(需要不用密码的sudo)</source>
        <translation>Run tcpdump with sudo -n on the remote host (needs sudo without a password)</translation>
    </message>
    <message>
        <source>主机:</source>
        <translation>Host:</translation>
    </message>
    <message>
        <source>端口:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>用户:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>网卡:</source>
        <translation>Interface:</translation>
    </message>
    <message>
        <source>无法运行ssh: %1</source>
        <translation>Cannot run ssh: %1</translation>
    </message>
    <message>
        <source>正在列出远程网卡...</source>
        <translation>Listing the remote interfaces...</translation>
    </message>
    <message>
        <source>找到 %1 个网卡</source>
        <translation>Found %1 interfaces</translation>
    </message>
    <message>
        <source>找到 %1 个网卡 (远程主机的回答过长, 只读了开头)</source>
        <translation>Found %1 interfaces (the remote host answered too much; only the beginning was read)</translation>
    </message>
</context>
<context>
    <name>RemoteSources</name>
    <message>
        <source>远程抓包...</source>
        <translation>Remote capture...</translation>
    </message>
</context>
<context>
    <name>ShownRows</name>
    <message>
        <source>显示 %1 / %2 行</source>
        <translation>Showing %1 / %2 rows</translation>
    </message>
    <message>
        <source>保存捕获文件</source>
        <translation>Save capture file</translation>
    </message>
    <message>
        <source>只显示了 %1 行, 共 %2 行。要保存哪些行?</source>
        <translation>Only %1 of %2 rows are shown. Which rows should be saved?</translation>
    </message>
    <message>
        <source>已显示的行</source>
        <translation>The rows shown</translation>
    </message>
    <message>
        <source>全部行</source>
        <translation>All rows</translation>
    </message>
</context>
<context>
    <name>SshCaptureSource</name>
    <message>
        <source>远程数据源要以 ssh:// 开头</source>
        <translation>A remote source begins with ssh://</translation>
    </message>
    <message>
        <source>缺少网卡: ssh://[用户@]主机[:端口]/网卡</source>
        <translation>No interface: ssh://[user@]host[:port]/interface</translation>
    </message>
    <message>
        <source>用户名无效: %1</source>
        <translation>Not a valid user name: %1</translation>
    </message>
    <message>
        <source>主机名无效: %1</source>
        <translation>Not a valid host name: %1</translation>
    </message>
    <message>
        <source>端口无效: %1</source>
        <translation>Not a valid port: %1</translation>
    </message>
    <message>
        <source>网卡名无效: %1</source>
        <translation>Not a valid interface name: %1</translation>
    </message>
    <message>
        <source>远程主机的密钥未知(不在known_hosts中)。请先在终端里用 ssh 连接该主机一次, 核对并接受它的密钥, 然后再试。</source>
        <translation>The remote host&apos;s key is unknown (not in known_hosts). Connect to the host once with ssh in a terminal, check and accept its key, then try again.</translation>
    </message>
    <message>
        <source>远程主机的密钥与known_hosts中记录的不同, 可能有人冒充该主机。请向管理员核对, 确认无误后在终端里用 ssh-keygen -R 删除旧密钥并重新连接。</source>
        <translation>The remote host&apos;s key differs from the one in known_hosts: someone may be posing as the host. Check with its administrator; once sure, remove the old key with ssh-keygen -R in a terminal and connect again.</translation>
    </message>
    <message>
        <source>远程主机拒绝了登录。请检查用户名和密钥(或ssh-agent), 并确认在终端里用 ssh 不输入密码就能登录。</source>
        <translation>The remote host refused the login. Check the user name and the key (or ssh-agent), and make sure that ssh logs in from a terminal without asking for a password.</translation>
    </message>
    <message>
        <source>无法连接远程主机: 主机名、端口或网络有误, 或连接超时。</source>
        <translation>Cannot connect to the remote host: the host name, port or network is wrong, or the connection timed out.</translation>
    </message>
    <message>
        <source>远程主机上没有tcpdump。请在那里安装它(如 sudo apt install tcpdump)。</source>
        <translation>There is no tcpdump on the remote host. Install it there (sudo apt install tcpdump, say).</translation>
    </message>
    <message>
        <source>远程主机上没有这个网卡。请列出远程网卡, 从中选择一个。</source>
        <translation>The remote host has no such interface. List the remote interfaces and choose one of them.</translation>
    </message>
    <message>
        <source>与远程主机的连接在抓包中断开了。已捕获的行仍然保留。</source>
        <translation>The connection to the remote host dropped during the capture. The rows captured so far stay.</translation>
    </message>
    <message>
        <source>远程抓包失败。</source>
        <translation>The remote capture failed.</translation>
    </message>
    <message>
        <source>远程主机上没有抓包的权限。请选择&quot;用sudo&quot;(那里需要不用密码的 sudo tcpdump), 或把远程用户加入可以运行tcpdump抓包的组(见README), 然后再试。</source>
        <translation>No permission to capture on the remote host. Choose &quot;Use sudo&quot; (which needs sudo tcpdump without a password there), or add the remote user to a group that may capture with tcpdump (see the README), then try again.</translation>
    </message>
</context>
<context>
    <name>StreamWindow</name>
    <message>
        <source>TCP流 %1 ⇄ %2</source>
        <translation>TCP stream %1 ⇄ %2</translation>
    </message>
    <message>
        <source>TCP流</source>
        <translation>TCP stream</translation>
    </message>
    <message>
        <source>第 %1 行, %2, %3 → %4, 序列号 %5</source>
        <translation>Row %1, %2, %3 → %4, sequence number %5</translation>
    </message>
    <message>
        <source>此前缺少 %1 字节 (未捕获)</source>
        <translation>%1 bytes missing before this (not captured)</translation>
    </message>
    <message>
        <source>此后缺少 %1 字节 (未捕获)</source>
        <translation>%1 bytes missing after this (not captured)</translation>
    </message>
    <message>
        <source>%1 → %2: %3 字节; %2 → %1: %4 字节; %5 个分段, %6 次重传, %7 处缺失</source>
        <translation>%1 → %2: %3 bytes; %2 → %1: %4 bytes; %5 segments, %6 retransmissions, %7 gaps</translation>
    </message>
</context>
<context>
    <name>TcpFollow</name>
    <message>
        <source>该行的帧已不在存储中。</source>
        <translation>The row&apos;s frame is no longer stored.</translation>
    </message>
    <message>
        <source>无法读取存储中的帧: %1</source>
        <translation>Cannot read the stored frames: %1</translation>
    </message>
    <message>
        <source>该行不是可追踪的TCP分段。</source>
        <translation>The row is not a TCP segment that can be followed.</translation>
    </message>
    <message>
        <source>追踪已取消。</source>
        <translation>The follow was cancelled.</translation>
    </message>
</context>
<context>
    <name>TcpMarks</name>
    <message>
        <source>重传</source>
        <translation>Retransmission</translation>
    </message>
    <message>
        <source>乱序</source>
        <translation>Out of order</translation>
    </message>
    <message>
        <source>前一段未捕获</source>
        <translation>Previous segment not captured</translation>
    </message>
    <message>
        <source>重复ACK</source>
        <translation>Duplicate ACK</translation>
    </message>
    <message>
        <source>零窗口</source>
        <translation>Zero window</translation>
    </message>
    <message>
        <source>窗口已满</source>
        <translation>Window full</translation>
    </message>
    <message>
        <source>保活</source>
        <translation>Keep-alive</translation>
    </message>
    <message>
        <source>重置</source>
        <translation>Reset</translation>
    </message>
</context>
<context>
    <name>TcpTimeSequence</name>
    <message>
        <source>该行的帧已不在存储中。</source>
        <translation>The row&apos;s frame is no longer stored.</translation>
    </message>
    <message>
        <source>无法读取存储中的帧: %1</source>
        <translation>Cannot read the stored frames: %1</translation>
    </message>
    <message>
        <source>该行不是TCP分段。</source>
        <translation>The row is not a TCP segment.</translation>
    </message>
</context>
<context>
    <name>TimeSequenceWindow</name>
    <message>
        <source>时间序列图 %1 ⇄ %2 - Tarnlook</source>
        <translation>Time Sequence %1 ⇄ %2 - Tarnlook</translation>
    </message>
    <message>
        <source>方向</source>
        <translation>Direction</translation>
    </message>
    <message>
        <source>发送方向:</source>
        <translation>Sent:</translation>
    </message>
    <message>
        <source>另一方向</source>
        <translation>Other Direction</translation>
    </message>
    <message>
        <source>时间 (秒, 从连接的第一个分段起)</source>
        <translation>Time (s, since the connection&apos;s first segment)</translation>
    </message>
    <message>
        <source>相对序列号</source>
        <translation>Relative sequence number</translation>
    </message>
    <message>
        <source>分段</source>
        <translation>Segments</translation>
    </message>
    <message>
        <source>重传或乱序</source>
        <translation>Sent again or out of order</translation>
    </message>
    <message>
        <source>此前未捕获</source>
        <translation>Bytes before not captured</translation>
    </message>
    <message>
        <source>确认号</source>
        <translation>Acknowledged</translation>
    </message>
    <message>
        <source>接收窗口</source>
        <translation>Receive window</translation>
    </message>
    <message>
        <source>时间序列图</source>
        <translation>Time Sequence</translation>
    </message>
    <message>
        <source>该连接的帧已不在存储中, 无法画出时间序列图。</source>
        <translation>The connection&apos;s frames are no longer stored: no time sequence can be drawn.</translation>
    </message>
</context>
<context>
    <name>TlsDecryption</name>
    <message>
        <source>选择TLS密钥日志</source>
        <translation>Choose a TLS Key Log</translation>
    </message>
    <message>
        <source>TLS密钥日志</source>
        <translation>TLS Key Log</translation>
    </message>
    <message>
        <source>已取消追踪TLS流。</source>
        <translation>Following the TLS stream was cancelled.</translation>
    </message>
    <message>
        <source>解密TLS时使用 SSLKEYLOGFILE 中的密钥: %1</source>
        <translation>Decrypting TLS with the secrets of SSLKEYLOGFILE: %1</translation>
    </message>
    <message>
        <source>TLS密钥日志中有 %1 行格式不对, 已跳过</source>
        <translation>%1 lines of the TLS key log are malformed and were skipped</translation>
    </message>
</context>
<context>
    <name>TlsKeyLog</name>
    <message>
        <source>无法读取密钥日志 %1: %2</source>
        <translation>Cannot read the key log %1: %2</translation>
    </message>
</context>
<context>
    <name>TlsStreamWindow</name>
    <message>
        <source>TLS流 %1 ⇄ %2</source>
        <translation>TLS stream %1 ⇄ %2</translation>
    </message>
    <message>
        <source>TLS流</source>
        <translation>TLS stream</translation>
    </message>
    <message>
        <source>第 %1 行, %2, %3 → %4, 记录 %5</source>
        <translation>Row %1, %2, %3 → %4, record %5</translation>
    </message>
    <message>
        <source>%1 个记录校验失败</source>
        <translation>%1 records failed their check</translation>
    </message>
    <message>
        <source>%1 个记录未完整捕获</source>
        <translation>%1 records not captured whole</translation>
    </message>
    <message>
        <source>%1 个记录没有密钥</source>
        <translation>%1 records without a key</translation>
    </message>
    <message>
        <source>此前有记录无法解密: %1</source>
        <translation>Records before this could not be decrypted: %1</translation>
    </message>
    <message>
        <source>%1 → %2: %3 个记录, %4 字节明文; %2 → %1: %5 个记录, %6 字节明文; %7 个记录无法解密</source>
        <translation>%1 → %2: %3 records, %4 bytes of plaintext; %2 → %1: %5 records, %6 bytes of plaintext; %7 records could not be decrypted</translation>
    </message>
    <message>
        <source> (读取中...)</source>
        <translation> (reading...)</translation>
    </message>
</context>
<context>
    <name>TrafficGraphWindow</name>
    <message>
        <source>重传</source>
        <translation>Retransmission</translation>
    </message>
    <message>
        <source>乱序</source>
        <translation>Out of order</translation>
    </message>
    <message>
        <source>前一段未捕获</source>
        <translation>Previous segment not captured</translation>
    </message>
    <message>
        <source>重复ACK</source>
        <translation>Duplicate ACK</translation>
    </message>
    <message>
        <source>零窗口</source>
        <translation>Zero window</translation>
    </message>
    <message>
        <source>窗口已满</source>
        <translation>Window full</translation>
    </message>
    <message>
        <source>保活</source>
        <translation>Keep-alive</translation>
    </message>
    <message>
        <source>重置</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>流量图 - Tarnlook</source>
        <translation>Traffic Graph - Tarnlook</translation>
    </message>
    <message>
        <source>时间 (秒, 从第一行起)</source>
        <translation>Time (s, since the first row)</translation>
    </message>
    <message>
        <source>包/秒</source>
        <translation>Packets/s</translation>
    </message>
    <message>
        <source>字节/秒</source>
        <translation>Bytes/s</translation>
    </message>
    <message>
        <source>包</source>
        <translation>Packets</translation>
    </message>
    <message>
        <source>字节</source>
        <translation>Bytes</translation>
    </message>
    <message>
        <source>流量图</source>
        <translation>Traffic Graph</translation>
    </message>
</context>
<context>
    <name>UnsavedRows</name>
    <message>
        <source>未保存的数据包</source>
        <translation>Unsaved packets</translation>
    </message>
    <message>
        <source>有 %1 行捕获的数据包还没有保存。</source>
        <translation>Captured rows not saved: %1.</translation>
    </message>
    <message>
        <source>关闭前要保存吗? 不保存的话, 它们会丢失。</source>
        <translation>Save them before closing? Unless saved, they are lost.</translation>
    </message>
    <message>
        <source>保存...</source>
        <translation>Save...</translation>
    </message>
    <message>
        <source>不保存</source>
        <translation>Discard</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>不再询问</source>
        <translation>Don&apos;t ask again</translation>
    </message>
    <message>
        <source>打开文件前要保存吗? 打开的文件会取代它们, 不保存的话, 它们会丢失。</source>
        <translation>Save them before opening the file? The file replaces them; unsaved, they are lost.</translation>
    </message>
</context>
</TS>
