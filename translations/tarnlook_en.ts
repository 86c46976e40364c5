<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en">
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
        <source>过滤选项,开始抓包前设置有效</source>
        <translation>Filter options, set before starting a capture</translation>
    </message>
    <message>
        <source>多组数据以 | 分割，开始抓包前设置，否则无效。标志暂无功能</source>
        <translation>Separate several entries with |. Set them before starting a capture, or they have no effect. The data flag does nothing yet.</translation>
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
        <source>获取网卡设备失败  请确认已经安装libpcap,并以root身份或带cap_net_raw,cap_net_admin能力运行。见README</source>
        <translation>Cannot list the network adapters. Make sure that libpcap is installed and run the program as root or with the capabilities cap_net_raw,cap_net_admin. See the README.</translation>
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
        <source>HexEdit 十六进制查看编辑</source>
        <translation>HexEdit hex viewer and editor</translation>
    </message>
    <message>
        <source>亮色主题</source>
        <translation>Light theme</translation>
    </message>
    <message>
        <source>本软件基于libpcap开发,抓包需要root权限或者cap_net_raw,cap_net_admin能力
</source>
        <translation>This program is built on libpcap; capturing needs root or the capabilities cap_net_raw,cap_net_admin.
</translation>
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
</context>
</TS>
