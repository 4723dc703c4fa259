<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>CAboutBox</name>
    <message>
        <source>关于 Tavrin</source>
        <translation>About Tavrin</translation>
    </message>
    <message>
        <source>Tavrin 0.94版</source>
        <translation>Tavrin version 0.94</translation>
    </message>
    <message>
        <source>作者：Tavrin 开发组</source>
        <translation>Author: the Tavrin team</translation>
    </message>
    <message>
        <source>联系：请到项目主页留言</source>
        <translation>Contact: project page</translation>
    </message>
    <message>
        <source>本程序是自由软件，欢迎复制和分发；使用本程序测量的结果仅供参考。</source>
        <translation>Tavrin is free software: copy and share it freely. Its measurements are for reference only.</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
</context>
<context>
    <name>CAnalyserStream</name>
    <message>
        <source>正在录音：请先停止录音，分析仪才能以其他格式使用声卡</source>
        <translation>A recording is running: stop it before the analyser takes the sound card at another format</translation>
    </message>
    <message>
        <source>采集正在等待提示框的回答：请先关闭提示框，再选择格式</source>
        <translation>Capture is waiting for an answer in a message box: close the box first, then choose the format again</translation>
    </message>
    <message>
        <source>面板未能及时关闭声卡，请再试一次</source>
        <translation>The panel could not let go of the sound card in time; please try again</translation>
    </message>
</context>
<context>
    <name>CCalibrationDlg</name>
    <message>
        <source>校准</source>
        <translation>Calibration</translation>
    </message>
    <message>
        <source>电压读数只在校准时的设置下成立：转动声卡或前置放大器的增益旋钮，或改动混音器的音量，校准即失效，须重新校准。</source>
        <translation>Readings in volts hold only for the settings they were calibrated at: turning a gain knob on the sound card or preamplifier, or moving the mixer&apos;s level, invalidates the calibration; calibrate again.</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>输入 (%1)</source>
        <translation>Input (%1)</translation>
    </message>
    <message>
        <source>通道:</source>
        <translation>Channel:</translation>
    </message>
    <message>
        <source>当前电平:</source>
        <translation>Level now:</translation>
    </message>
    <message>
        <source>电压表读数 (有效值):</source>
        <translation>Voltmeter reading (RMS):</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set</translation>
    </message>
    <message>
        <source>已存:</source>
        <translation>Stored:</translation>
    </message>
    <message>
        <source>输出 (%1)</source>
        <translation>Output (%1)</translation>
    </message>
    <message>
        <source>电平:</source>
        <translation>Level:</translation>
    </message>
    <message>
        <source>播放 1 kHz (L 和 R)</source>
        <translation>Play 1 kHz (L and R)</translation>
    </message>
    <message>
        <source>0 dBFS = %1 V 有效值 (%2 设置，于 %3 测得)</source>
        <translation>0 dBFS = %1 V RMS (set %2, taken at %3)</translation>
    </message>
    <message>
        <source>0 dBFS = %1 V 有效值 (%2 设置)</source>
        <translation>0 dBFS = %1 V RMS (set %2)</translation>
    </message>
    <message>
        <source>未校准</source>
        <translation>uncalibrated</translation>
    </message>
    <message>
        <source>无法校准：需要大于 0 V 的电压表读数和不低于 -100 dBFS 的电平。</source>
        <translation>Cannot calibrate: the voltmeter reading must be above 0 V and the level no lower than -100 dBFS.</translation>
    </message>
    <message>
        <source>校准未能保存：</source>
        <translation>The calibration could not be saved: </translation>
    </message>
</context>
<context>
    <name>CDeviceDlg</name>
    <message>
        <source>声卡</source>
        <translation>Sound card</translation>
    </message>
    <message>
        <source>输入设备 (X1, X2):</source>
        <translation>Input device (X1, X2):</translation>
    </message>
    <message>
        <source>输出设备 (信号源 L, R):</source>
        <translation>Output device (source L, R):</translation>
    </message>
    <message>
        <source>模拟声卡 (输出接到输入)</source>
        <translation>Simulated sound card (output wired to input)</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>说明</source>
        <translation>Description</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>CDistortionWindow</name>
    <message>
        <source>残余频谱 (去除基波)</source>
        <translation>Residual spectrum (fundamental removed)</translation>
    </message>
    <message>
        <source>频率 (Hz)</source>
        <translation>Frequency (Hz)</translation>
    </message>
    <message>
        <source>X1 基波与谐波</source>
        <translation>X1 fundamental and harmonics</translation>
    </message>
    <message>
        <source>X2 基波与谐波</source>
        <translation>X2 fundamental and harmonics</translation>
    </message>
    <message>
        <source>谐波 (相对基波)</source>
        <translation>Harmonics (relative to the fundamental)</translation>
    </message>
    <message>
        <source>输入有间断</source>
        <translation>Gap in the input</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>无信号</source>
        <translation>No signal</translation>
    </message>
    <message>
        <source>削波</source>
        <translation>Clipped</translation>
    </message>
    <message>
        <source>电平不稳</source>
        <translation>Level unsteady</translation>
    </message>
    <message>
        <source>未收到测试信号</source>
        <translation>Test signal not received</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>基波频率 (Hz)</source>
        <translation>Fundamental (Hz)</translation>
    </message>
    <message>
        <source>基波电平 (dBFS)</source>
        <translation>Fundamental level (dBFS)</translation>
    </message>
    <message>
        <source>THD (%)</source>
        <translation>THD (%)</translation>
    </message>
    <message>
        <source>THD (dB)</source>
        <translation>THD (dB)</translation>
    </message>
    <message>
        <source>THD+N (%)</source>
        <translation>THD+N (%)</translation>
    </message>
    <message>
        <source>THD+N (dB)</source>
        <translation>THD+N (dB)</translation>
    </message>
    <message>
        <source>SINAD (dB)</source>
        <translation>SINAD (dB)</translation>
    </message>
    <message>
        <source>SNR (dB)</source>
        <translation>SNR (dB)</translation>
    </message>
    <message>
        <source>互调 IMD (%)</source>
        <translation>IMD (%)</translation>
    </message>
    <message>
        <source>互调 IMD (dB)</source>
        <translation>IMD (dB)</translation>
    </message>
    <message>
        <source>互调 d2 (%)</source>
        <translation>IMD d2 (%)</translation>
    </message>
    <message>
        <source>互调 d3 (%)</source>
        <translation>IMD d3 (%)</translation>
    </message>
    <message>
        <source>量</source>
        <translation>Quantity</translation>
    </message>
    <message>
        <source>失真与噪声</source>
        <translation>Distortion and noise</translation>
    </message>
    <message>
        <source>测试信号</source>
        <translation>Test signal</translation>
    </message>
    <message>
        <source>从线路输出播放</source>
        <translation>Play on the line output</translation>
    </message>
    <message>
        <source>谐波失真 (正弦)</source>
        <translation>Harmonic distortion (sine)</translation>
    </message>
    <message>
        <source>SMPTE 互调 (60 Hz + 7 kHz, 4:1)</source>
        <translation>SMPTE IMD (60 Hz + 7 kHz, 4:1)</translation>
    </message>
    <message>
        <source>CCIF 互调 (19 kHz + 20 kHz, 1:1)</source>
        <translation>CCIF IMD (19 kHz + 20 kHz, 1:1)</translation>
    </message>
    <message>
        <source>DIN 互调 (250 Hz + 8 kHz, 4:1)</source>
        <translation>DIN IMD (250 Hz + 8 kHz, 4:1)</translation>
    </message>
    <message>
        <source>自定义双音互调</source>
        <translation>Custom two-tone IMD</translation>
    </message>
    <message>
        <source>双音</source>
        <translation>Two tones</translation>
    </message>
    <message>
        <source>TPDF 抖动</source>
        <translation>TPDF dither</translation>
    </message>
    <message>
        <source>测量</source>
        <translation>Measure</translation>
    </message>
    <message>
        <source>频率</source>
        <translation>Frequency</translation>
    </message>
    <message>
        <source>电平</source>
        <translation>Level</translation>
    </message>
    <message>
        <source>分析</source>
        <translation>Analysis</translation>
    </message>
    <message>
        <source>%1 帧 (%2 s)</source>
        <translation>%1 frames (%2 s)</translation>
    </message>
    <message>
        <source>20 Hz – 20 kHz</source>
        <translation>20 Hz – 20 kHz</translation>
    </message>
    <message>
        <source>20 Hz – 奈奎斯特频率</source>
        <translation>20 Hz – Nyquist</translation>
    </message>
    <message>
        <source>不计权</source>
        <translation>Unweighted</translation>
    </message>
    <message>
        <source>A 计权 (IEC 61672)</source>
        <translation>A-weighted (IEC 61672)</translation>
    </message>
    <message>
        <source>块长</source>
        <translation>Block</translation>
    </message>
    <message>
        <source>频带</source>
        <translation>Band</translation>
    </message>
    <message>
        <source>噪声计权</source>
        <translation>Noise weighting</translation>
    </message>
    <message>
        <source>采样率与格式</source>
        <translation>Rate and format</translation>
    </message>
    <message>
        <source>复制表格</source>
        <translation>Copy table</translation>
    </message>
    <message>
        <source>保存表格…</source>
        <translation>Save table…</translation>
    </message>
    <message>
        <source>保存图…</source>
        <translation>Save plots…</translation>
    </message>
    <message>
        <source>保存表格</source>
        <translation>Save table</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>无法保存 %1：%2</source>
        <translation>Cannot save %1: %2</translation>
    </message>
    <message>
        <source>保存图</source>
        <translation>Save plots</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png);;SVG 图形 (*.svg)</source>
        <translation>PNG pictures (*.png);;SVG drawings (*.svg)</translation>
    </message>
    <message>
        <source>无法生成图片</source>
        <translation>Cannot make the picture</translation>
    </message>
    <message>
        <source>基波电平 (Vrms)</source>
        <translation>Fundamental level (Vrms)</translation>
    </message>
</context>
<context>
    <name>CEntryDialog</name>
    <message>
        <source>设置输出频率</source>
        <translation>Output frequency</translation>
    </message>
    <message>
        <source>输入频率值</source>
        <translation>Frequency:</translation>
    </message>
    <message>
        <source>设置万用表基准</source>
        <translation>Meter reference</translation>
    </message>
    <message>
        <source>输入基准元件值，不必输入单位</source>
        <translation>Reference value, no unit:</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>请输入 0 到 20000 之间的整数。</source>
        <translation>Enter a whole number from 0 to 20000.</translation>
    </message>
    <message>
        <source>请输入 0.001 到 10000 之间的数。</source>
        <translation>Enter a number from 0.001 to 10000.</translation>
    </message>
</context>
<context>
    <name>CFrequencyResponseWindow</name>
    <message>
        <source>采样率与格式</source>
        <translation>Rate and format</translation>
    </message>
    <message>
        <source>幅度</source>
        <translation>Magnitude</translation>
    </message>
    <message>
        <source>相位</source>
        <translation>Phase</translation>
    </message>
    <message>
        <source>度</source>
        <translation>degrees</translation>
    </message>
    <message>
        <source>频率响应</source>
        <translation>Frequency response</translation>
    </message>
    <message>
        <source>脉冲响应</source>
        <translation>Impulse response</translation>
    </message>
    <message>
        <source>频率 (Hz)</source>
        <translation>Frequency (Hz)</translation>
    </message>
    <message>
        <source>时间 (ms)</source>
        <translation>Time (ms)</translation>
    </message>
    <message>
        <source>还没有测量结果</source>
        <translation>no measurement yet</translation>
    </message>
    <message>
        <source>无法保存 %1：%2</source>
        <translation>Cannot save %1: %2</translation>
    </message>
    <message>
        <source>测量 %1</source>
        <translation>Measured %1</translation>
    </message>
    <message>
        <source>文件过大，不是频率响应曲线</source>
        <translation>the file is too large to be a frequency-response curve</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>扫频</source>
        <translation>Sweep</translation>
    </message>
    <message>
        <source>%1 帧 (%2 s)</source>
        <translation>%1 frames (%2 s)</translation>
    </message>
    <message>
        <source>左声道</source>
        <translation>Left</translation>
    </message>
    <message>
        <source>右声道</source>
        <translation>Right</translation>
    </message>
    <message>
        <source>双声道</source>
        <translation>Both</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>X2 (除以 X2)</source>
        <translation>X2 (divide by X2)</translation>
    </message>
    <message>
        <source>不平滑</source>
        <translation>No smoothing</translation>
    </message>
    <message>
        <source>1/48 倍频程</source>
        <translation>1/48 octave</translation>
    </message>
    <message>
        <source>1/24 倍频程</source>
        <translation>1/24 octave</translation>
    </message>
    <message>
        <source>1/12 倍频程</source>
        <translation>1/12 octave</translation>
    </message>
    <message>
        <source>1/6 倍频程</source>
        <translation>1/6 octave</translation>
    </message>
    <message>
        <source>1/3 倍频程</source>
        <translation>1/3 octave</translation>
    </message>
    <message>
        <source>起始频率</source>
        <translation>From</translation>
    </message>
    <message>
        <source>终止频率</source>
        <translation>To</translation>
    </message>
    <message>
        <source>长度</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>电平</source>
        <translation>Level</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>参考</source>
        <translation>Reference</translation>
    </message>
    <message>
        <source>平均次数</source>
        <translation>Averages</translation>
    </message>
    <message>
        <source>平滑</source>
        <translation>Smoothing</translation>
    </message>
    <message>
        <source>每倍频程点数</source>
        <translation>Points per octave</translation>
    </message>
    <message>
        <source>叠加曲线</source>
        <translation>Overlays</translation>
    </message>
    <message>
        <source>勾选以显示，取消勾选以隐藏</source>
        <translation>Tick to show, untick to hide</translation>
    </message>
    <message>
        <source>保留当前曲线</source>
        <translation>Keep current curve</translation>
    </message>
    <message>
        <source>载入曲线…</source>
        <translation>Load curve…</translation>
    </message>
    <message>
        <source>移除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>载入曲线</source>
        <translation>Load curve</translation>
    </message>
    <message>
        <source>频率响应 (*.frd *.txt *.csv);;所有文件 (*)</source>
        <translation>Frequency responses (*.frd *.txt *.csv);;All files (*)</translation>
    </message>
    <message>
        <source>无法读取 %1：%2</source>
        <translation>Cannot read %1: %2</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>保存 CSV…</source>
        <translation>Save CSV…</translation>
    </message>
    <message>
        <source>保存 CSV</source>
        <translation>Save CSV</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>保存 FRD…</source>
        <translation>Save FRD…</translation>
    </message>
    <message>
        <source>保存 FRD</source>
        <translation>Save FRD</translation>
    </message>
    <message>
        <source>FRD 文件 (*.frd)</source>
        <translation>FRD files (*.frd)</translation>
    </message>
    <message>
        <source>保存脉冲响应 WAV…</source>
        <translation>Save impulse response WAV…</translation>
    </message>
    <message>
        <source>保存脉冲响应</source>
        <translation>Save impulse response</translation>
    </message>
    <message>
        <source>WAV 文件 (32 位浮点) (*.wav)</source>
        <translation>WAV files (32-bit float) (*.wav)</translation>
    </message>
    <message>
        <source>保存图…</source>
        <translation>Save plots…</translation>
    </message>
    <message>
        <source>保存图</source>
        <translation>Save plots</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png);;SVG 图形 (*.svg)</source>
        <translation>PNG pictures (*.png);;SVG drawings (*.svg)</translation>
    </message>
    <message>
        <source>起始频率须低于终止频率。</source>
        <translation>The start frequency must be below the end frequency.</translation>
    </message>
    <message>
        <source>无法测量：%1</source>
        <translation>Cannot measure: %1</translation>
    </message>
    <message>
        <source>无法播放扫频信号。</source>
        <translation>Cannot play the sweep.</translation>
    </message>
    <message>
        <source>正在测量…</source>
        <translation>Measuring…</translation>
    </message>
    <message>
        <source>采集有中断，正在重新测量…</source>
        <translation>The capture had a gap; measuring again…</translation>
    </message>
    <message>
        <source>延迟 %1 个采样 (%2 ms)</source>
        <translation>latency %1 samples (%2 ms)</translation>
    </message>
    <message>
        <source>采集有中断 (xrun 或丢帧)，请重新测量</source>
        <translation>the capture had a gap (an xrun or dropped frames); measure again</translation>
    </message>
    <message>
        <source>输入削波，请降低电平</source>
        <translation>the input clipped; lower the level</translation>
    </message>
    <message>
        <source>扫频信号没有返回，请检查连线和输入</source>
        <translation>nothing of the sweep came back; check the cable and the input</translation>
    </message>
    <message>
        <source>测量在扫频返回之前被停止</source>
        <translation>stopped before the sweep had come back</translation>
    </message>
    <message>
        <source>测量失败：%1</source>
        <translation>Measurement failed: %1</translation>
    </message>
    <message>
        <source>没有采集到声音：声卡输入没有运行</source>
        <translation>no sound captured: the sound card input is not running</translation>
    </message>
    <message>
        <source>正在分析…</source>
        <translation>Analysing…</translation>
    </message>
    <message>
        <source>显示谐波 H2–H9 与 THD</source>
        <translation>Show harmonics H2–H9 and THD</translation>
    </message>
    <message>
        <source>时间窗</source>
        <translation>Gate</translation>
    </message>
    <message>
        <source>只取脉冲响应峰值前后的一段计算频率响应，去掉房间反射；有效频率从 1/窗长 起</source>
        <translation>The response from a stretch of the impulse response around its peak, leaving out room reflections; it holds from 1 / the gate length up</translation>
    </message>
    <message>
        <source>峰前</source>
        <translation>before peak</translation>
    </message>
    <message>
        <source>峰后</source>
        <translation>after peak</translation>
    </message>
    <message>
        <source>，往返：自扫频离开程序</source>
        <translation>, round trip: from the sweep leaving the program</translation>
    </message>
    <message>
        <source>，相对值：自采集开始，含扫频前已排队的输出</source>
        <translation>, relative: from the capture start, the output queued before the sweep included</translation>
    </message>
    <message>
        <source>，X1 相对 X2</source>
        <translation>, X1 against X2</translation>
    </message>
    <message>
        <source>；时间窗内有效频率从 %1 Hz 起</source>
        <translation>; gated response valid from %1 Hz up</translation>
    </message>
</context>
<context>
    <name>CImpedanceCorrectionsBox</name>
    <message>
        <source>校准 (本声卡)</source>
        <translation>Calibration (this card)</translation>
    </message>
    <message>
        <source>通道匹配 (被测件短接)</source>
        <translation>Channel match (part shorted)</translation>
    </message>
    <message>
        <source>开路</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>短路</source>
        <translation>Short</translation>
    </message>
    <message>
        <source>清除</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>按扫描频点</source>
        <translation>Over the sweep&apos;s frequencies</translation>
    </message>
    <message>
        <source>以下方步进扫描的频点测量并保存每一点，而非只在当前频率</source>
        <translation>Measure and store every frequency of the stepped sweep below, not only the current frequency</translation>
    </message>
    <message>
        <source>无法保存校准：%1</source>
        <translation>Cannot save the calibration: %1</translation>
    </message>
    <message>
        <source>无</source>
        <translation>none</translation>
    </message>
    <message numerus="yes">
        <source>%n 个频点，%1–%2 Hz</source>
        <translation>
            <numerusform>%n frequency, %1–%2 Hz</numerusform>
            <numerusform>%n frequencies, %1–%2 Hz</numerusform>
        </translation>
    </message>
    <message>
        <source>通道匹配：%1
开路：%2；短路：%3</source>
        <translation>Channel match: %1
Open: %2; short: %3</translation>
    </message>
</context>
<context>
    <name>CImpedanceReadout</name>
    <message>
        <source>读数</source>
        <translation>Reading</translation>
    </message>
    <message>
        <source>输入削波：请降低电平或声卡的输入增益</source>
        <translation>Input clipped: lower the level or the card&apos;s input gain</translation>
    </message>
    <message>
        <source>X1 上没有测试信号：请检查输出与 X1 的接线</source>
        <translation>No test tone on X1: check the output and X1&apos;s wiring</translation>
    </message>
    <message>
        <source>X2 无信号：请检查参考电阻与 X2 的接线</source>
        <translation>X2 is silent: check the reference resistor and X2&apos;s wiring</translation>
    </message>
    <message>
        <source>阻抗超出 R_ref/1000 … 1000 R_ref，读数无意义：请选用更接近被测件的参考电阻</source>
        <translation>Impedance outside R_ref/1000 … 1000 R_ref, the reading means nothing: choose a reference resistor nearer the part</translation>
    </message>
    <message>
        <source>正常，%1 Hz</source>
        <translation>OK, %1 Hz</translation>
    </message>
    <message>
        <source>此频率不在校准范围内，未修正</source>
        <translation>this frequency is outside the calibration: not corrected</translation>
    </message>
</context>
<context>
    <name>CImpedanceWindow</name>
    <message>
        <source>采样率与格式</source>
        <translation>Rate and format</translation>
    </message>
    <message>
        <source>阻抗与相位</source>
        <translation>Impedance and phase</translation>
    </message>
    <message>
        <source>频率 (Hz)</source>
        <translation>Frequency (Hz)</translation>
    </message>
    <message>
        <source>相位 (°)</source>
        <translation>Phase (°)</translation>
    </message>
    <message>
        <source>阻抗</source>
        <translation>Impedance</translation>
    </message>
    <message>
        <source>测量</source>
        <translation>Measurement</translation>
    </message>
    <message>
        <source>不计</source>
        <translation>none</translation>
    </message>
    <message>
        <source>串联</source>
        <translation>Series</translation>
    </message>
    <message>
        <source>并联</source>
        <translation>Parallel</translation>
    </message>
    <message>
        <source>频率</source>
        <translation>Frequency</translation>
    </message>
    <message>
        <source>电平</source>
        <translation>Level</translation>
    </message>
    <message>
        <source>参考电阻 R_ref</source>
        <translation>Reference resistor R_ref</translation>
    </message>
    <message>
        <source>声卡输入阻抗</source>
        <translation>Card input impedance</translation>
    </message>
    <message>
        <source>等效电路</source>
        <translation>Equivalent circuit</translation>
    </message>
    <message>
        <source>步进扫描</source>
        <translation>Stepped sweep</translation>
    </message>
    <message>
        <source>开始扫描</source>
        <translation>Start sweep</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>起始</source>
        <translation>From</translation>
    </message>
    <message>
        <source>终止</source>
        <translation>To</translation>
    </message>
    <message>
        <source>每倍频程点数</source>
        <translation>Points per octave</translation>
    </message>
    <message>
        <source>拟合</source>
        <translation>fitted</translation>
    </message>
    <message>
        <source>Re（直流电阻）</source>
        <translation>Re (DC resistance)</translation>
    </message>
    <message>
        <source>保存 ZMA…</source>
        <translation>Save ZMA…</translation>
    </message>
    <message>
        <source>保存 CSV…</source>
        <translation>Save CSV…</translation>
    </message>
    <message>
        <source>保存图…</source>
        <translation>Save plot…</translation>
    </message>
    <message>
        <source>保存 ZMA</source>
        <translation>Save ZMA</translation>
    </message>
    <message>
        <source>ZMA 文件 (*.zma)</source>
        <translation>ZMA files (*.zma)</translation>
    </message>
    <message>
        <source>保存 CSV</source>
        <translation>Save CSV</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>保存图</source>
        <translation>Save plot</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png);;SVG 图形 (*.svg)</source>
        <translation>PNG images (*.png);;SVG drawings (*.svg)</translation>
    </message>
    <message>
        <source>无法扫描：%1</source>
        <translation>Cannot sweep: %1</translation>
    </message>
    <message>
        <source>谐振 f_s = %1 Hz，Re = %2 Ω，Z_max = %3 Ω</source>
        <translation>Resonance f_s = %1 Hz, Re = %2 Ω, Z_max = %3 Ω</translation>
    </message>
    <message>
        <source>Qms = %1，Qes = %2，Qts = %3，Le = %4</source>
        <translation>Qms = %1, Qes = %2, Qts = %3, Le = %4</translation>
    </message>
    <message>
        <source>谐振 f_s = %1 Hz；无 Thiele-Small 参数：%2</source>
        <translation>Resonance f_s = %1 Hz; no Thiele-Small parameters: %2</translation>
    </message>
    <message numerus="yes">
        <source>%n 个扫描频率不在校准范围内，未修正</source>
        <translation>
            <numerusform>%n frequency of the sweep is outside the calibration: not corrected</numerusform>
            <numerusform>%n frequencies of the sweep are outside the calibration: not corrected</numerusform>
        </translation>
    </message>
    <message>
        <source>无法保存 %1：%2</source>
        <translation>Cannot save %1: %2</translation>
    </message>
    <message>
        <source>还没有可用于校准的读数</source>
        <translation>No reading to calibrate with yet</translation>
    </message>
    <message>
        <source>校准扫描已停止，未保存</source>
        <translation>Calibration sweep stopped: nothing stored</translation>
    </message>
    <message>
        <source>校准扫描中…</source>
        <translation>Calibration sweep running…</translation>
    </message>
    <message numerus="yes">
        <source>已保存 %n 个校准频点</source>
        <translation>
            <numerusform>Stored %n calibration frequency</numerusform>
            <numerusform>Stored %n calibration frequencies</numerusform>
        </translation>
    </message>
    <message>
        <source>%1 Hz 未校准：%2</source>
        <translation>%1 Hz not calibrated: %2</translation>
    </message>
</context>
<context>
    <name>CInstrumentDlg</name>
    <message>
        <source>分析仪正在使用声卡 %1</source>
        <translation>The analyser is using the sound card at %1</translation>
    </message>
    <message>
        <source>关于 Tavrin(&amp;A)...</source>
        <translation>&amp;About Tavrin...</translation>
    </message>
    <message>
        <source>请先暂停，调整好屏幕再保存</source>
        <translation>Press PAUSE first, set up the screen, then save.</translation>
    </message>
    <message>
        <source>请按下PAUSE</source>
        <translation>Press PAUSE</translation>
    </message>
    <message>
        <source>位图文件 (*.bmp)</source>
        <translation>Bitmap files (*.bmp)</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>WAV文件 (*.wav)</source>
        <translation>WAV files (*.wav)</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>频率计</source>
        <translation>Freq</translation>
    </message>
    <message>
        <source>X1频率</source>
        <translation>X1 Hz</translation>
    </message>
    <message>
        <source>X2频率</source>
        <translation>X2 Hz</translation>
    </message>
    <message>
        <source>L频率</source>
        <translation>L Hz</translation>
    </message>
    <message>
        <source>正弦</source>
        <translation>Sine</translation>
    </message>
    <message>
        <source>三角</source>
        <translation>Tri</translation>
    </message>
    <message>
        <source>方波</source>
        <translation>Sqr</translation>
    </message>
    <message>
        <source>R频率</source>
        <translation>R Hz</translation>
    </message>
    <message>
        <source>万用表</source>
        <translation>Meter</translation>
    </message>
    <message>
        <source>信号源</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>X1线</source>
        <translation>X1</translation>
    </message>
    <message>
        <source>X2线</source>
        <translation>X2</translation>
    </message>
    <message>
        <source>网格</source>
        <translation>Grid</translation>
    </message>
    <message>
        <source>背景</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>保存屏幕</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>频域</source>
        <translation>FFT</translation>
    </message>
    <message>
        <source>设置基准值</source>
        <translation>Set ref</translation>
    </message>
    <message>
        <source>Tavrin 0.94    Tavrin 开发组 制作</source>
        <translation>Tavrin 0.94    made by the Tavrin team</translation>
    </message>
    <message>
        <source>微秒每格</source>
        <translation> µs/div</translation>
    </message>
    <message>
        <source>HZ每格</source>
        <translation> Hz/div</translation>
    </message>
    <message>
        <source>声卡…</source>
        <translation>Sound card…</translation>
    </message>
    <message>
        <source>失真与噪声…</source>
        <translation>Distortion and noise…</translation>
    </message>
    <message>
        <source>校准…</source>
        <translation>Calibration…</translation>
    </message>
    <message>
        <source>校准文件有误，电压不予显示：</source>
        <translation>The calibration file is damaged; no readings in volts: </translation>
    </message>
    <message>
        <source>频率响应…</source>
        <translation>Frequency response…</translation>
    </message>
    <message>
        <source>阻抗…</source>
        <translation>Impedance…</translation>
    </message>
    <message>
        <source>声卡测试报告…</source>
        <translation>Sound card report…</translation>
    </message>
</context>
<context>
    <name>CReportWindow</name>
    <message>
        <source>声卡测试报告</source>
        <translation>Sound card report</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>选择…</source>
        <translation>Choose…</translation>
    </message>
    <message>
        <source>报告文件夹</source>
        <translation>Report folder</translation>
    </message>
    <message>
        <source>输出文件夹</source>
        <translation>Output folder</translation>
    </message>
    <message>
        <source>限值文件</source>
        <translation>Limits file</translation>
    </message>
    <message>
        <source>设备</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>步骤</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>另存为…</source>
        <translation>Save as…</translation>
    </message>
    <message>
        <source>无法读取限值文件：</source>
        <translation>Cannot read the limits file: </translation>
    </message>
    <message>
        <source>限值文件有误：</source>
        <translation>The limits file is wrong: </translation>
    </message>
    <message>
        <source>无法建立文件夹：</source>
        <translation>Cannot make the folder: </translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>测量中…</source>
        <translation>Measuring…</translation>
    </message>
    <message>
        <source>进行中</source>
        <translation>Running</translation>
    </message>
    <message>
        <source>第 %1/%2 步：%3</source>
        <translation>Step %1 of %2: %3</translation>
    </message>
    <message>
        <source>失败</source>
        <translation>Failed</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>Done</translation>
    </message>
    <message>
        <source>无法写入：</source>
        <translation>Cannot write: </translation>
    </message>
    <message>
        <source>报告已完成：</source>
        <translation>Report finished: </translation>
    </message>
    <message>
        <source>已停止；已测部分在：</source>
        <translation>Stopped; what was measured is in: </translation>
    </message>
    <message>
        <source>没有报告</source>
        <translation>No report yet</translation>
    </message>
    <message>
        <source>JSON 文件 (*.json)</source>
        <translation>JSON files (*.json)</translation>
    </message>
    <message>
        <source>报告另存为</source>
        <translation>Save the report as</translation>
    </message>
    <message>
        <source>已保存到：</source>
        <translation>Saved to: </translation>
    </message>
    <message>
        <source>超出限值：</source>
        <translation>Out of limits: </translation>
    </message>
</context>
<context>
    <name>CStatusLine</name>
    <message>
        <source>peak</source>
        <translation>peak</translation>
    </message>
    <message>
        <source>xruns %1</source>
        <translation>xruns %1</translation>
    </message>
    <message>
        <source>capture: %1</source>
        <translation>capture: %1</translation>
    </message>
</context>
<context>
    <name>CommandLine</name>
    <message>
        <source>用法：%1 [选项]</source>
        <translation>Usage: %1 [options]</translation>
    </message>
    <message>
        <source>把声卡变成一组测量仪器：示波器、频率计、
万用表、信号发生器。设备名称是 ALSA 的名称（见 --list-devices）；
“sim”是模拟声卡。</source>
        <translation>The sound card as a bench of instruments: oscilloscope, frequency meter,
multimeter, signal generator. Device names are ALSA&apos;s (see --list-devices);
&quot;sim&quot; is the simulated sound card.</translation>
    </message>
    <message>
        <source>从设备 NAME 采集，并向它播放。</source>
        <translation>Capture from and play to device NAME.</translation>
    </message>
    <message>
        <source>从设备 NAME 采集。</source>
        <translation>Capture from device NAME.</translation>
    </message>
    <message>
        <source>向设备 NAME 播放。</source>
        <translation>Play to device NAME.</translation>
    </message>
    <message>
        <source>列出采集设备，空一行，再列出播放设备，每行一个：名称、制表符、说明。</source>
        <translation>Print the capture devices, an empty line, then the playback devices, one a line: name, tab, description.</translation>
    </message>
    <message>
        <source>显示本帮助。</source>
        <translation>Print this help.</translation>
    </message>
    <message>
        <source>显示版本。</source>
        <translation>Print the version.</translation>
    </message>
    <message>
        <source>面板和本帮助的语言：zh（中文）或 en（英文）。</source>
        <translation>Language of the panel and this help: zh (Chinese) or en (English).</translation>
    </message>
    <message>
        <source>多余的参数“%1”</source>
        <translation>unexpected argument &apos;%1&apos;</translation>
    </message>
    <message>
        <source>--%1 需要设备名称</source>
        <translation>--%1 needs a device name</translation>
    </message>
    <message>
        <source>
命令：
  %1 measure [选项]  逐个缓冲区的读数：频率、电平、万用表
  %1 thd [选项]      逐块的失真和噪声：THD、THD+N、互调
  %1 calibrate [选项]  电压校准：输入或输出的 0 dBFS 对应的伏特数
  %1 sweep [选项]    扫频测量频率响应：幅度、相位、谐波
  %1 impedance [选项]  阻抗：|Z|、相位、L/C/R、ESR、Q、D，或步进扫描
  %1 report [选项]   声卡测试报告：一次测完各项标准指标，写成 HTML、JSON、CSV
各命令的 --help 说明其选项。
</source>
        <translation>
Commands:
  %1 measure [options]  readings per buffer: frequency, level, meter
  %1 thd [options]      distortion and noise per block: THD, THD+N, IMD
  %1 calibrate [options]  volts at 0 dBFS for an input or an output
  %1 sweep [options]    frequency response by a sweep: magnitude, phase, harmonics
  %1 impedance [options]  impedance: |Z|, phase, L/C/R, ESR, Q, D, or a stepped sweep
  %1 report [options]   a sound card report: every standard figure in one run, as HTML, JSON, CSV
Each command&apos;s --help tells its options.
</translation>
    </message>
    <message>
        <source>--lang 只接受 zh 或 en，不接受“%1”</source>
        <translation>--lang takes zh or en, not &quot;%1&quot;</translation>
    </message>
</context>
<context>
    <name>DeviceChoice</name>
    <message>
        <source>采集正在等待提示框的回答，暂时不能更换输入设备。请先关闭提示框，再重新选择。</source>
        <translation>Capture is waiting for an answer in a message box, so the input device cannot be changed now. Close the box first, then choose again.</translation>
    </message>
</context>
<context>
    <name>PanelGroupBox</name>
    <message>
        <source>增益</source>
        <translation>Gain</translation>
    </message>
    <message>
        <source>基准线</source>
        <translation>Baseline</translation>
    </message>
    <message>
        <source>时基</source>
        <translation>Time base</translation>
    </message>
    <message>
        <source>同步</source>
        <translation>Sync</translation>
    </message>
    <message>
        <source>网格线</source>
        <translation>Grid</translation>
    </message>
    <message>
        <source>频率计</source>
        <translation>Frequency meter</translation>
    </message>
    <message>
        <source>信号发生器</source>
        <translation>Signal generator</translation>
    </message>
    <message>
        <source>电源开关</source>
        <translation>Power</translation>
    </message>
    <message>
        <source>颜色选择</source>
        <translation>Colours</translation>
    </message>
    <message>
        <source>示波器工作方式</source>
        <translation>Scope mode</translation>
    </message>
    <message>
        <source>万用表</source>
        <translation>Multimeter</translation>
    </message>
</context>
</TS>
