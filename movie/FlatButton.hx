import flash.display.Sprite;
import flash.events.MouseEvent;
import flash.text.TextField;

/** A flat rounded button with hover, pressed and disabled looks. */
class FlatButton extends Sprite {
	var caption:TextField;
	var w:Float;
	var h:Float;
	var danger:Bool;
	var hover = false;
	var pressed = false;
	var enabled = true;
	var onClick:Void->Void;

	public function new(text:String, w:Float, h:Float, onClick:Void->Void, danger = false) {
		super();
		this.w = w;
		this.h = h;
		this.onClick = onClick;
		this.danger = danger;

		caption = Ui.label(text, 12, Ui.TEXT, true);
		caption.y = Math.round((h - caption.height) / 2);
		center();
		addChild(caption);

		buttonMode = true;
		useHandCursor = true;
		mouseChildren = false;
		addEventListener(MouseEvent.ROLL_OVER, function(_) { hover = true; redraw(); });
		addEventListener(MouseEvent.ROLL_OUT, function(_) { hover = false; pressed = false; redraw(); });
		addEventListener(MouseEvent.MOUSE_DOWN, function(_) { pressed = true; redraw(); });
		addEventListener(MouseEvent.MOUSE_UP, function(_) { pressed = false; redraw(); });
		addEventListener(MouseEvent.CLICK, function(_) if (enabled) onClick());
		redraw();
	}

	public function setLabel(text:String) {
		caption.text = text;
		center();
		redraw();
	}

	public function setEnabled(on:Bool) {
		enabled = on;
		buttonMode = on;
		useHandCursor = on;
		redraw();
	}

	function center() {
		caption.x = Math.round((w - caption.width) / 2);
	}

	function redraw() {
		var fill = if (!enabled) Ui.DISABLED
			else if (hover && !pressed) (danger ? Ui.DANGER_HOVER : Ui.ACCENT_HOVER)
			else (danger ? Ui.DANGER : Ui.ACCENT);
		graphics.clear();
		graphics.beginFill(fill);
		graphics.drawRoundRect(0, 0, w, h, 8, 8);
		graphics.endFill();
		caption.textColor = enabled ? Ui.TEXT : Ui.DISABLED_TEXT;
	}
}
